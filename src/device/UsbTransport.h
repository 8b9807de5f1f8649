#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The one seam between the recorder protocol and a USB facility: one recorder (vendor
// 0x11DB, product 0x1000) with its claimed interface and two bulk pipes. Back ends: libusb
// for real recorders (LibUsbTransport.cpp, the only file that sees libusb.h) and the
// in-process software recorder (SoftwareRecorder.h). Not thread-safe: one upload at a time.
class UsbTransport
{
public:
    virtual ~UsbTransport() = default;

    // Finds and opens the recorder, sets configuration 0's value, claims the interface and
    // reads the bus speed, writing each step's diagnostics through usbOut(); on success it
    // reports the speed with interfaceOpened(). 0 on success, else a non-zero status.
    virtual int open() = 0;

    // Bulk write on pipe 1 (host to recorder). Time limits in milliseconds. 0 or an error.
    virtual int writePipe(const std::uint8_t *bytes, int length, int noDataMs, int completionMs)
        = 0;
    // Bulk read of up to `length` bytes on pipe 2; *received gets the count. 0 or an error.
    virtual int readPipe(
        std::uint8_t *buffer, int length, int *received, int noDataMs, int completionMs)
        = 0;
    // Clears the stall of a pipe (1 or 2) on host and device side. 0 or an error.
    virtual int clearPipeStallBothEnds(int pipe) = 0;

    // The close sequence, step by step; each answers 0 or an error.
    virtual int closeInterface() = 0;
    virtual int releaseInterface() = 0;
    virtual int closeDevice() = 0;
    virtual int releaseDevice() = 0;

    // Why the last open() failed, in one line a person can act on; empty when it did not
    // fail or the back end has nothing to add.
    virtual std::string openFailure() const { return {}; }
};

// Transfer statuses a back end answers, the same numbers libusb uses.
namespace usbstatus
{
constexpr int kIo = -1;
constexpr int kNoDevice = -4;
constexpr int kNotFound = -5;
constexpr int kTimeout = -7;
constexpr int kPipe = -9; // stalled endpoint
} // namespace usbstatus

// The libusb back end.
std::unique_ptr<UsbTransport> makeLibUsbTransport();

// Called by a back end's interface step with the interface's configuration value and the bus
// speed code (0 low, 1 full, 2 high): sets the granule and the connected speed and writes
// the "confnum" line.
void interfaceOpened(unsigned configurationValue, int speedCode);

// Standard-output diagnostics of the transport (one line per call, with its line break).
// Tests redirect them; an empty function restores stdout.
void usbOut(const char *format, ...) __attribute__((format(printf, 1, 2)));
void setUsbOutSink(std::function<void(const std::string &)> sink);
