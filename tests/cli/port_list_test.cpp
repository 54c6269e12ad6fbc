#include <gtest/gtest.h>

#include <fstream>

#include "doubles/temp_folder.h"
#include "port_list_posix.h"

namespace kelvo::cli {
namespace {

namespace fs = std::filesystem;

TEST(PortList, ListsRealPortsByTheNamesKelvoTakesWithUsbDescriptions) {
  // A miniature of /sys: the tty class with links into the device tree, as the kernel lays it out.
  testing::TempFolder sys("kelvo-sysfs");
  const fs::path ttys = sys.Path() / "class" / "tty", devices = sys.Path() / "devices";
  fs::create_directories(ttys);
  EXPECT_EQ(FormatPortList(ListSerialPortsIn(ttys)), "No serial ports found.\n");
  // A tty entry; device is its node under devices/, or empty for a virtual one.
  const auto tty = [&](const std::string& name, const std::string& device, const char* type = "") {
    fs::create_directories(ttys / name);
    if (*type) std::ofstream(ttys / name / "type") << type << "\n";
    if (device.empty()) return;
    fs::create_directories(devices / device);
    fs::create_directory_symlink(devices / device, ttys / name / "device");
  };
  const auto usb = [&](const std::string& device, const std::vector<std::string>& values) {
    const char* names[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
    for (std::size_t i = 0; i < values.size(); ++i)
      if (!values[i].empty()) std::ofstream(devices / device / names[i]) << values[i] << "\n";
  };
  tty("tty0", "");
  tty("ptmx", "");
  tty("ttyS0", "pnp0/00:01", "4");
  tty("ttyS1", "platform/serial8250", "0");  // a legacy slot with no UART
  tty("ttyS2", "pnp0/00:02", "4");
  tty("ttyS10", "pci0/0000:03:00.0", "4");
  tty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0");
  usb("usb1/1-1", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"});
  tty("ttyACM0", "usb1/1-2/1-2:1.0");
  usb("usb1/1-2", {"2341", "0043", "", "Uno", ""});
  tty("ttyAMA0", "platform/fe201000.serial");

  EXPECT_EQ(FormatPortList(ListSerialPortsIn(ttys)),
            "ACM0     /dev/ttyACM0  Uno (2341:0043)\n"
            "ttyAMA0  /dev/ttyAMA0\n"
            "COM1     /dev/ttyS0\n"
            "COM3     /dev/ttyS2\n"
            "COM11    /dev/ttyS10\n"
            "USB0     /dev/ttyUSB0  FTDI FT232R USB UART (0403:6001, serial A50285BI)\n");
}

}  // namespace
}  // namespace kelvo::cli
