#pragma once

#include <QStringList>
#include <memory>

class SoftwareRecorder;

// The software recorder presented as a USB device on an emulated usbfs: vendor 0x11DB,
// product 0x1000, one configuration whose interface has the bulk OUT endpoint first and
// the bulk IN endpoint second. The program given runs with the emulation preloaded, so
// its libusb finds and opens the device as it would a real recorder.
struct UsbfsOptions {
    // The device vanishes once the recorder has taken this many bytes of file data;
    // negative: never.
    qint64 unplugAfter = -1;
    // The recorder stops answering once it has taken this many; negative: never.
    qint64 silentAfter = -1;
};

// Runs `command` (program and arguments) against the device and answers its exit status
// (128 + the signal when it was killed), or -1 with a line on standard error when the
// emulation could not be set up.
int runOnUsbfs(const std::shared_ptr<SoftwareRecorder> &recorder, const UsbfsOptions &options,
    const QStringList &command);
