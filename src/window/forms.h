#pragma once

// The two dialog forms as data: every control with its identifier, kind, text, place and size
// in dialog units (a quarter of the font's average character width across, an eighth of its
// height down), and style. The window code builds the widgets from these tables.

#include <span>

namespace kelvo::forms {

enum class Kind {
  kLabel,          // static text, not a tab stop
  kEdit,           // single-line edit
  kCombo,          // drop-down combo box with an editable field
  kButton,         // push button
  kDefaultButton,  // the push button that Enter clicks
  kLog,            // multi-line read-only log
};

enum Style : unsigned {
  kTabStop = 1u << 0,
  kReadOnly = 1u << 1,
  kDigitsOnly = 1u << 2,  // restricts what the operator types, not what the program writes
  kRightAligned = 1u << 3,
  kSorted = 1u << 4,  // the drop-down list is kept in alphabetical order
  kDisabled = 1u << 5,
};

struct DialogRect {
  int x, y, w, h;  // for a combo box h includes its dropped list
};

struct Control {
  int id;            // 0 for labels, which nothing refers to
  const char* name;  // the widget's object name; empty for labels
  Kind kind;
  const char* text;
  DialogRect rect;
  unsigned style;
  std::span<const char* const> items = {};  // a combo box's initial list
};

struct Form {
  const char* caption;
  int width, height;  // client area, dialog units
  std::span<const Control> controls;
};

inline constexpr const char* kPortItems[] = {"COM1", "COM2", "COM3", "COM4",
                                             "COM5", "COM6", "COM7", "COM8"};
inline constexpr const char* kStartAddressItems[] = {"0x2000"};
inline constexpr const char* kDeviceTypeItems[] = {"ZARQX", "ZARQ 40 - 580"};

// The main window. Controls are listed in their Tab order; each label stands before the control
// it names.
inline constexpr Control kMainControls[] = {
    {0, "", Kind::kLabel, "File", {20, 15, 12, 8}, 0},
    {1004, "FileEdit", Kind::kEdit, "", {75, 15, 160, 12}, kTabStop},
    {1001, "BrowseButton", Kind::kButton, "Browse", {235, 15, 50, 13}, kTabStop},
    {0, "", Kind::kLabel, "Port", {20, 40, 14, 8}, 0},
    {1002, "PortCombo", Kind::kCombo, "", {75, 40, 85, 70}, kTabStop | kSorted, kPortItems},
    {0, "", Kind::kLabel, "Start Address", {20, 65, 43, 8}, 0},
    {1005,
     "StartAddressCombo",
     Kind::kCombo,
     "",
     {75, 65, 84, 70},
     kTabStop | kSorted,
     kStartAddressItems},
    {0, "", Kind::kLabel, "ZARQ Type", {20, 90, 34, 8}, 0},
    {1008, "DeviceTypeCombo", Kind::kCombo, "", {75, 90, 85, 45}, kTabStop, kDeviceTypeItems},
    {1006, "StartButton", Kind::kButton, "Start", {235, 45, 50, 14}, kTabStop},
    {1, "QuitButton", Kind::kDefaultButton, "Quit", {235, 115, 50, 14}, kTabStop},
    {1010, "LogEdit", Kind::kLog, "", {20, 140, 270, 90}, kReadOnly},
    {0, "", Kind::kLabel, "Errors", {166, 240, 19, 8}, 0},
    {1011,
     "ErrorsField",
     Kind::kEdit,
     "",
     {166, 250, 40, 15},
     kReadOnly | kDigitsOnly | kRightAligned},
    {0, "", Kind::kLabel, "Block", {34, 240, 19, 8}, 0},
    {1012,
     "BlockField",
     Kind::kEdit,
     "",
     {20, 250, 54, 14},
     kReadOnly | kDigitsOnly | kRightAligned},
    {1013, "HaltButton", Kind::kButton, "Halt", {235, 60, 50, 14}, kTabStop | kDisabled},
    {0, "", Kind::kLabel, "Address", {100, 240, 26, 8}, 0},
    {1014, "AddressField", Kind::kEdit, "", {100, 250, 40, 14}, kReadOnly | kRightAligned},
    {0, "", Kind::kLabel, "Checksum", {232, 240, 34, 8}, 0},
    {1015, "ChecksumField", Kind::kEdit, "", {232, 250, 40, 14}, kReadOnly | kRightAligned},
    {0, "", Kind::kLabel, "Response Delay", {20, 115, 53, 8}, 0},
    {1016,
     "ResponseDelayEdit",
     Kind::kEdit,
     "",
     {75, 115, 85, 12},
     kTabStop | kDigitsOnly | kRightAligned},
    {1017, "HelpButton", Kind::kButton, "Help", {235, 90, 50, 14}, kTabStop},
};

inline constexpr Form kMainForm = {"Harvenor - Kelvo ", 307, 276, kMainControls};

// The controls that a transfer reaches, in the order of kelvo::Control, and those that only
// the window handles.
inline constexpr int kTransferControlIds[] = {1004, 1002, 1005, 1008, 1010, 1012,
                                              1011, 1006, 1013, 1014, 1015, 1016};
inline constexpr int kFileEdit = 1004;
inline constexpr int kBrowseButton = 1001;
inline constexpr int kStartButton = 1006;
inline constexpr int kHaltButton = 1013;
inline constexpr int kHelpButton = 1017;
inline constexpr int kLogEdit = 1010;

inline constexpr char kHelpFileName[] = "KelvoHelp.rtf";

// The entry that opens the About box.
inline constexpr char kAboutEntry[] = "&About Kelvo...";

inline constexpr char kCopyright[] = "Copyright (C) 2026 Harvenor";

inline constexpr Control kAboutControls[] = {
    {0, "", Kind::kLabel, "Kelvo Version 1.1", {20, 5, 119, 8}, 0},
    {0, "", Kind::kLabel, kCopyright, {20, 16, 119, 8}, 0},
    {1, "OkButton", Kind::kDefaultButton, "OK", {145, 18, 50, 14}, kTabStop},
    {0, "", Kind::kLabel, "Harvenor Instruments Ltd.", {20, 27, 85, 8}, 0},
    {0, "", Kind::kLabel, "www.harvenor.example", {20, 38, 78, 8}, 0},
};

inline constexpr Form kAboutForm = {"About Kelvo", 212, 50, kAboutControls};

}  // namespace kelvo::forms
