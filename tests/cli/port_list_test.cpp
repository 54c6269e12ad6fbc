#include "port_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "support/temp_folder.h"

namespace kelvo::cli {
namespace {

namespace fs = std::filesystem;

// A miniature of /sys: the tty class with links into the device tree, as the kernel lays it out.
class FakeSysfs {
 public:
  FakeSysfs() { fs::create_directories(ClassDir()); }

  fs::path ClassDir() const { return root_ / "class" / "tty"; }

  // A tty entry; device is its node under devices/, or empty for a virtual one.
  void AddTty(const std::string& name, const std::string& device, const std::string& type = "") {
    fs::create_directories(ClassDir() / name);
    if (!type.empty()) std::ofstream(ClassDir() / name / "type") << type << "\n";
    if (device.empty()) return;
    fs::create_directories(root_ / "devices" / device);
    fs::create_directory_symlink(root_ / "devices" / device, ClassDir() / name / "device");
  }
  // The attributes of a USB device node: idVendor, idProduct, manufacturer, product and serial,
  // each left out when empty.
  void DescribeUsb(const std::string& device, const std::vector<std::string>& values) const {
    const char* names[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
    const fs::path node = root_ / "devices" / device;
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!values[i].empty()) std::ofstream(node / names[i]) << values[i] << "\n";
    }
  }

 private:
  testing::TempFolder folder_{"kelvo-sysfs"};
  fs::path root_ = folder_.Path();
};

TEST(PortList, ListsRealPortsByTheNamesKelvoTakesWithUsbDescriptions) {
  FakeSysfs sys;
  EXPECT_EQ(FormatPortList(ListSerialPorts(sys.ClassDir())), "No serial ports found.\n");

  sys.AddTty("tty0", "");
  sys.AddTty("ptmx", "");
  sys.AddTty("ttyS0", "pnp0/00:01", "4");
  sys.AddTty("ttyS1", "platform/serial8250", "0");  // a legacy slot with no UART
  sys.AddTty("ttyS2", "pnp0/00:02", "4");
  sys.AddTty("ttyS10", "pci0/0000:03:00.0", "4");
  sys.AddTty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0");
  sys.DescribeUsb("usb1/1-1", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"});
  sys.AddTty("ttyACM0", "usb1/1-2/1-2:1.0");
  sys.DescribeUsb("usb1/1-2", {"2341", "0043", "", "Uno", ""});
  sys.AddTty("ttyAMA0", "platform/fe201000.serial");

  EXPECT_EQ(FormatPortList(ListSerialPorts(sys.ClassDir())),
            "ACM0     /dev/ttyACM0  Uno (2341:0043)\n"
            "ttyAMA0  /dev/ttyAMA0\n"
            "COM1     /dev/ttyS0\n"
            "COM3     /dev/ttyS2\n"
            "COM11    /dev/ttyS10\n"
            "USB0     /dev/ttyUSB0  FTDI FT232R USB UART (0403:6001, serial A50285BI)\n");
}

}  // namespace
}  // namespace kelvo::cli
