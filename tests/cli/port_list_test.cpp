#include "port_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

namespace kelvo::cli {
namespace {

namespace fs = std::filesystem;

// A miniature of /sys: the tty class with links into the device tree, as the kernel lays it out.
class FakeSysfs {
 public:
  FakeSysfs() {
    std::string pattern = (fs::temp_directory_path() / "kelvo-sysfs-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    fs::create_directories(ClassDir());
  }
  ~FakeSysfs() { fs::remove_all(root_); }

  fs::path ClassDir() const { return root_ / "class" / "tty"; }

  // A tty entry; device is its node under devices/, or empty for a virtual one.
  void AddTty(const std::string& name, const std::string& device, const std::string& type = "") {
    const fs::path entry = ClassDir() / name;
    fs::create_directories(entry);
    if (!type.empty()) Write(entry / "type", type);
    if (device.empty()) return;
    fs::create_directories(root_ / "devices" / device);
    fs::create_directory_symlink(root_ / "devices" / device, entry / "device");
  }

  void Write(const fs::path& file, const std::string& text) const {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  }
  void WriteDevice(const std::string& device, const std::string& attribute,
                   const std::string& text) const {
    Write(root_ / "devices" / device / attribute, text);
  }

 private:
  fs::path root_;
};

TEST(PortList, ListsRealPortsByTheNamesKelvoTakesWithUsbDescriptions) {
  FakeSysfs sys;
  sys.AddTty("tty0", "");
  sys.AddTty("ptmx", "");
  sys.AddTty("ttyS0", "pnp0/00:01", "4");
  sys.AddTty("ttyS1", "platform/serial8250", "0");  // a legacy slot with no UART
  sys.AddTty("ttyS2", "pnp0/00:02", "4");
  sys.AddTty("ttyS10", "pci0/0000:03:00.0", "4");
  sys.AddTty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0");
  sys.WriteDevice("usb1/1-1", "idVendor", "0403");
  sys.WriteDevice("usb1/1-1", "idProduct", "6001");
  sys.WriteDevice("usb1/1-1", "manufacturer", "FTDI");
  sys.WriteDevice("usb1/1-1", "product", "FT232R USB UART");
  sys.WriteDevice("usb1/1-1", "serial", "A50285BI");
  sys.AddTty("ttyACM0", "usb1/1-2/1-2:1.0");
  sys.WriteDevice("usb1/1-2", "idVendor", "2341");
  sys.WriteDevice("usb1/1-2", "idProduct", "0043");
  sys.WriteDevice("usb1/1-2", "product", "Uno");
  sys.AddTty("ttyAMA0", "platform/fe201000.serial");

  const std::vector<SerialPortEntry> expected = {
      {"ACM0", "/dev/ttyACM0", "Uno (2341:0043)"},
      {"ttyAMA0", "/dev/ttyAMA0", ""},
      {"COM1", "/dev/ttyS0", ""},
      {"COM3", "/dev/ttyS2", ""},
      {"COM11", "/dev/ttyS10", ""},
      {"USB0", "/dev/ttyUSB0", "FTDI FT232R USB UART (0403:6001, serial A50285BI)"},
  };
  const std::vector<SerialPortEntry> ports = ListSerialPorts(sys.ClassDir());
  ASSERT_EQ(ports.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].device_path);
    EXPECT_EQ(ports[i].name, expected[i].name);
    EXPECT_EQ(ports[i].device_path, expected[i].device_path);
    EXPECT_EQ(ports[i].description, expected[i].description);
  }

  EXPECT_EQ(FormatPortList({ports[0], ports[2], ports[5]}),
            "ACM0  /dev/ttyACM0  Uno (2341:0043)\n"
            "COM1  /dev/ttyS0\n"
            "USB0  /dev/ttyUSB0  FTDI FT232R USB UART (0403:6001, serial A50285BI)\n");
}

TEST(PortList, SaysSoWhenThereIsNoPort) {
  FakeSysfs sys;
  sys.AddTty("tty1", "");
  EXPECT_EQ(FormatPortList(ListSerialPorts(sys.ClassDir())), "No serial ports found.\n");
}

}  // namespace
}  // namespace kelvo::cli
