// The libusb back end: the only file that sees libusb.h.
#include "device/UsbTransport.h"

#include <cstdio>
#include <grp.h>
#include <libusb.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

constexpr std::uint16_t kVendor = 0x11DB;
constexpr std::uint16_t kProduct = 0x1000;
constexpr int kAnotherStatus = -3;

int speedCode(int libusbSpeed)
{
    switch (libusbSpeed) {
    case LIBUSB_SPEED_LOW:
        return 0;
    case LIBUSB_SPEED_FULL:
        return 1;
    case LIBUSB_SPEED_UNKNOWN:
        return 1;
    default:
        return 2; // high speed and faster
    }
}

std::string deviceNode(libusb_device *device)
{
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
        libusb_get_device_address(device));
    return node;
}

// Opening the recorder's node was refused: say which node and how to be let in.
std::string noPermission(const std::string &node)
{
    std::string owners;
    struct stat st {};
    if (::stat(node.c_str(), &st) == 0 && st.st_gid != 0)
        if (const struct group *g = ::getgrgid(st.st_gid))
            owners = g->gr_name;
    return "No permission to open the recorder at " + node
        + ": install Pallaro's udev rule (lib/udev/rules.d), which gives the logged-in user "
          "the recorder"
        + (owners.empty() ? std::string() : ", or join the group " + owners)
        + ", then plug the recorder in again.";
}

class LibUsbTransport final : public UsbTransport
{
public:
    ~LibUsbTransport() override
    {
        if (handle_) {
            if (claimed_)
                libusb_release_interface(handle_, interfaceNumber_);
            libusb_close(handle_);
        }
        if (ctx_)
            libusb_exit(ctx_);
    }

    int open() override
    {
        failure_.clear();
        int err = libusb_init(&ctx_);
        if (err != 0) {
            ctx_ = nullptr;
            failure_ = std::string("USB cannot be used on this machine (") + libusb_strerror(err)
                + "): is the USB file system /dev/bus/usb there?";
            usbOut(
                "Roziravora: could not create master port, err = %08x", static_cast<unsigned>(err));
            return err;
        }
        libusb_device **list = nullptr;
        const ssize_t count = libusb_get_device_list(ctx_, &list);
        if (count < 0) {
            failure_ = std::string("The USB devices cannot be listed: ")
                + libusb_strerror(static_cast<int>(count)) + ".";
            usbOut("Roziravora: could not create matching dictionary");
            return -1;
        }
        bool found = false;
        int status = kAnotherStatus;
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor d {};
            if (libusb_get_device_descriptor(list[i], &d) != 0 || d.idVendor != kVendor
                || d.idProduct != kProduct)
                continue;
            found = true;
            usbOut("Found device %p", static_cast<void *>(list[i]));
            status = dealWithDevice(list[i], d);
        }
        libusb_free_device_list(list, 1);
        if (!found)
            failure_ = "No recorder found on USB.";
        return found && status == 0 ? 0 : kAnotherStatus;
    }

    std::string openFailure() const override { return failure_; }

    int writePipe(const std::uint8_t *bytes, int length, int, int completionMs) override
    {
        int sent = 0;
        return libusb_bulk_transfer(handle_, pipe1_, const_cast<std::uint8_t *>(bytes), length,
            &sent, static_cast<unsigned>(completionMs));
    }

    int readPipe(std::uint8_t *buffer, int length, int *received, int noDataMs, int) override
    {
        // libusb has one limit per transfer; the no-data limit is the one that matters for
        // a reply, which arrives in one piece.
        *received = 0;
        return libusb_bulk_transfer(
            handle_, pipe2_, buffer, length, received, static_cast<unsigned>(noDataMs));
    }

    int clearPipeStallBothEnds(int pipe) override
    {
        return libusb_clear_halt(handle_, pipe == 1 ? pipe1_ : pipe2_);
    }

    int closeInterface() override
    {
        if (!handle_ || !claimed_)
            return 0;
        claimed_ = false;
        const int ret = libusb_release_interface(handle_, interfaceNumber_);
        // A recorder pulled out has released everything itself.
        return ret == LIBUSB_ERROR_NO_DEVICE ? 0 : ret;
    }
    int releaseInterface() override { return 0; }
    int closeDevice() override
    {
        if (handle_)
            libusb_close(handle_);
        handle_ = nullptr;
        return 0;
    }
    int releaseDevice() override
    {
        if (ctx_)
            libusb_exit(ctx_);
        ctx_ = nullptr;
        return 0;
    }

private:
    int dealWithDevice(libusb_device *device, const libusb_device_descriptor &d)
    {
        if (handle_) { // an earlier match: the last one found wins
            if (claimed_)
                libusb_release_interface(handle_, interfaceNumber_);
            libusb_close(handle_);
            handle_ = nullptr;
            claimed_ = false;
        }
        node_ = deviceNode(device);
        int ret = libusb_open(device, &handle_);
        if (ret != 0) {
            handle_ = nullptr;
            failure_ = ret == LIBUSB_ERROR_ACCESS
                ? noPermission(node_)
                : "The recorder at " + node_ + " cannot be opened: " + libusb_strerror(ret) + ".";
            usbOut("dealWithDevice: unable to open device. ret = %08x", static_cast<unsigned>(ret));
            return kAnotherStatus;
        }
        if (d.bNumConfigurations == 0) {
            failure_ = "The recorder at " + node_ + " offers no configuration.";
            usbOut("dealWithDevice: unable to obtain the number of configurations. ret = %08x", 0u);
            return kAnotherStatus;
        }
        usbOut("dealWithDevice: found %d configurations", d.bNumConfigurations);
        libusb_config_descriptor *config = nullptr;
        if (libusb_get_config_descriptor(device, 0, &config) != 0 || !config) {
            failure_ = "The recorder at " + node_ + " gave no readable configuration.";
            usbOut("dealWithDevice:unable to get config descriptor for index 0");
            return kAnotherStatus;
        }
        const int value = config->bConfigurationValue;
        int active = -1;
        libusb_get_configuration(handle_, &active);
        // Setting the active configuration again would reset the device on some hosts.
        if (active != value && libusb_set_configuration(handle_, value) != 0) {
            failure_ = "The recorder at " + node_ + " refused its configuration.";
            usbOut("dealWithDevice: unable to set the configuration");
            libusb_free_config_descriptor(config);
            return kAnotherStatus;
        }
        if (config->bNumInterfaces == 0) {
            failure_ = "The recorder at " + node_ + " offers no interface.";
            libusb_free_config_descriptor(config);
            return kAnotherStatus;
        }
        int status = kAnotherStatus;
        for (int i = 0; i < config->bNumInterfaces; ++i) {
            const libusb_interface &intf = config->interface[i];
            if (intf.num_altsetting < 1)
                continue;
            usbOut("found interface: %p", static_cast<const void *>(&intf));
            status = dealWithInterface(device, intf.altsetting[0], static_cast<unsigned>(value));
        }
        libusb_free_config_descriptor(config);
        return status;
    }

    int dealWithInterface(
        libusb_device *device, const libusb_interface_descriptor &alt, unsigned configurationValue)
    {
        if (claimed_) {
            libusb_release_interface(handle_, interfaceNumber_);
            claimed_ = false;
        }
        libusb_set_auto_detach_kernel_driver(handle_, 1);
        const int ret = libusb_claim_interface(handle_, alt.bInterfaceNumber);
        if (ret == LIBUSB_ERROR_BUSY)
            failure_ = "The recorder at " + node_
                + " is in use by another program: close that program, then upload again.";
        else if (ret == LIBUSB_ERROR_ACCESS)
            failure_ = noPermission(node_);
        else if (ret != 0)
            failure_ = "The recorder at " + node_ + " cannot be claimed: " + libusb_strerror(ret)
                + ".";
        if (ret != 0) {
            usbOut("dealWithInterface: unable to open interface. ret = %08x",
                static_cast<unsigned>(ret));
            return kAnotherStatus;
        }
        claimed_ = true;
        interfaceNumber_ = alt.bInterfaceNumber;
        usbOut("dealWithInterface: found %d pipes", alt.bNumEndpoints);
        if (alt.bNumEndpoints < 2) { // the recorder's OUT pipe first, its IN pipe second
            failure_ = "The device at " + node_ + " lacks the recorder's two pipes.";
            return kAnotherStatus;
        }
        pipe1_ = alt.endpoint[0].bEndpointAddress;
        pipe2_ = alt.endpoint[1].bEndpointAddress;
        interfaceOpened(configurationValue, speedCode(libusb_get_device_speed(device)));
        return 0;
    }

    libusb_context *ctx_ = nullptr;
    libusb_device_handle *handle_ = nullptr;
    bool claimed_ = false;
    int interfaceNumber_ = 0;
    unsigned char pipe1_ = 0x01;
    unsigned char pipe2_ = 0x82;
    std::string node_;
    std::string failure_;
};

} // namespace

std::unique_ptr<UsbTransport> makeLibUsbTransport()
{
    return std::make_unique<LibUsbTransport>();
}
