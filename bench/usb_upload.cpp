// Upload of a 50 MB file to the in-process software recorder at the upload's rate (60928),
// at high and full speed. Prints the host-side throughput (time outside the recorder) and
// the bytes on the wire per file byte, both directions counted.
#include "device/DataHandler.h"
#include "device/SoftwareRecorder.h"
#include "device/USBFunctions.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    constexpr qint64 kSize = 50LL * 1024 * 1024;
    QTemporaryDir local, disk;
    const QString path = local.path() + "/big.tgd";
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, '\0');
        for (qint64 done = 0; done < kSize; done += block.size()) {
            for (char &c : block)
                c = static_cast<char>(QRandomGenerator::global()->bounded(256));
            f.write(block);
        }
    }
    setUsbOutSink([](const std::string &) {});

    for (int speed : { 2, 1 }) {
        const auto recorder = SoftwareRecorder::replaceBus(disk.path(), speed);
        USBFunctions usbf;
        usbf.setRate(60928);
        const auto context = usbf.initializeUSB();
        const auto a = DataHandler::attributesOfFile(path);
        const QByteArray record
            = DataHandler::getDataFromTFFile(DataHandler::extractAttributes(*a), "big.tgd");
        const auto start = std::chrono::steady_clock::now();
        const bool ok = usbf.uploadFile(path, kSize, "\\ProgramFiles\\", record, context.get());
        const double total
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        usbf.closeDevice(context.get());
        const SoftwareRecorder::Stats &s = recorder->stats();
        const double host = total - s.secondsInside;
        const double wire = double(s.bytesIn + s.bytesOut) / double(kSize);
        std::printf(
            "%s speed (granule %u): %s, %lld bytes in %.3f s (host %.3f s, recorder %.3f s)\n",
            speed == 2 ? "high" : "full", usb::kBlockSize, ok ? "ok" : "FAILED",
            static_cast<long long>(kSize), total, host, s.secondsInside);
        std::printf(
            "  host-side throughput: %.0f Mbit/s (target >= 4800)\n", kSize * 8.0 / host / 1e6);
        std::printf("  end-to-end with the recorder: %.0f Mbit/s\n", kSize * 8.0 / total / 1e6);
        std::printf("  wire bytes per file byte: %.6f (overhead %.4f%%; host to recorder %.4f%%, "
                    "recorder to host %.4f%%; target < 0.1%%)\n",
            wire, (wire - 1) * 100, (double(s.bytesIn) / kSize - 1) * 100,
            double(s.bytesOut) / kSize * 100);
        QFile::remove(disk.path() + "/ProgramFiles/big.tgd");
    }
    return 0;
}
