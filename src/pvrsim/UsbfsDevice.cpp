// The device side of an emulated usbfs: every ioctl the host's libusb makes on the device
// node is answered here, its bulk URBs by the software recorder.
#include "pvrsim/UsbfsDevice.h"

#include "device/SoftwareRecorder.h"

#include <QByteArray>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <deque>
#include <functional>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <mutex>
#include <sys/wait.h>
#include <umockdev.h>
#include <vector>
#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
extern "C" void __asan_init();
#endif

namespace
{

// What the command preloads: the emulation, after AddressSanitizer's runtime when this
// build has one, because a sanitized command insists on loading that first.
QByteArray preloads(const char *inherited)
{
    QByteArray list = "libumockdev-preload.so.0";
#if defined(__SANITIZE_ADDRESS__)
    Dl_info info {};
    if (dladdr(reinterpret_cast<void *>(&__asan_init), &info) && info.dli_fname)
        list = QByteArray(info.dli_fname) + ' ' + list;
#endif
    if (inherited && *inherited)
        list += QByteArray(" ") + inherited;
    return list;
}

constexpr const char *kSysPath = "/sys/devices/usb1";
constexpr const char *kDevNode = "/dev/bus/usb/001/001";
constexpr unsigned char kOut = 0x01;
constexpr unsigned char kIn = 0x82;

// Device and configuration descriptors: one interface, bulk OUT first, bulk IN second.
QByteArray descriptors(bool highSpeed)
{
    // Device: USB 2.0, vendor 0x11DB, product 0x1000, one configuration.
    const QByteArray device = "1201000200000040db110010000100000001";
    // Configuration 1 of 32 bytes in all; interface 0 with two endpoints, vendor class.
    const QByteArray configuration = QByteArray("09022000010100c032") + "0904000002ff000000";
    const QByteArray packet = highSpeed ? "0002" : "4000"; // 512 or 64 bytes
    return device + configuration + "07050102" + packet + "00" + "07058202" + packet + "00";
}

// A URB the host submitted, held until the host reaps it.
struct Urb {
    UMockdevIoctlClient *client; // identity only
    UMockdevIoctlData *data; // owned reference
    UMockdevIoctlData *buffer; // owned reference
    usbdevfs_urb *urb() const { return reinterpret_cast<usbdevfs_urb *>(data->data); }
};

class UsbfsDevice
{
public:
    UsbfsDevice(std::shared_ptr<SoftwareRecorder> recorder, const UsbfsOptions &options)
        : r_(std::move(recorder))
        , options_(options)
    {
    }
    ~UsbfsDevice()
    {
        if (unplugSource_) // the command ended before the loop pulled the device out
            g_source_remove(unplugSource_);
        // umockdev's worker thread, which handled the ioctls under the lock, ends without a
        // join we could see: the lock makes its last changes (and the recorder's) ours.
        std::lock_guard lock(mutex_);
        for (Urb &u : done_)
            drop(u);
        for (Urb &u : waiting_)
            drop(u);
    }

    static gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
    {
        return static_cast<UsbfsDevice *>(self)->handle(client);
    }
    static void onVanished(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
    {
        static_cast<UsbfsDevice *>(self)->vanished(client);
    }

    // Called on the main loop once the device is to vanish from the bus.
    std::function<void()> unplugged;

private:
    static void drop(Urb &u)
    {
        g_object_unref(u.buffer);
        g_object_unref(u.data);
    }

    gboolean handle(UMockdevIoctlClient *client)
    {
        std::lock_guard lock(mutex_);
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
            *reinterpret_cast<guint32 *>(d->data) = USBDEVFS_CAP_BULK_SCATTER_GATHER
                | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM
                | USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
            g_object_unref(d);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_GETDRIVER: // no kernel driver to detach
        case USBDEVFS_IOCTL: // (a driver's ioctl: the detaching of one)
            umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : ENODATA);
            return TRUE;
        case USBDEVFS_CLAIMINTERFACE:
            if (gone_)
                umockdev_ioctl_client_complete(client, -1, ENODEV);
            else if (claimedBy_ && claimedBy_ != client) // another program holds it
                umockdev_ioctl_client_complete(client, -1, EBUSY);
            else {
                claimedBy_ = client;
                umockdev_ioctl_client_complete(client, 0, 0);
            }
            return TRUE;
        case USBDEVFS_RELEASEINTERFACE:
            if (claimedBy_ == client)
                claimedBy_ = nullptr;
            umockdev_ioctl_client_complete(client, gone_ ? -1 : 0, gone_ ? ENODEV : 0);
            return TRUE;
        case USBDEVFS_CLEAR_HALT: {
            if (gone_) {
                umockdev_ioctl_client_complete(client, -1, ENODEV);
                return TRUE;
            }
            UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
            if (*reinterpret_cast<unsigned *>(d->data) == kIn) {
                // Clearing the halt drops whatever the recorder had queued on the pipe.
                r_->pipe2Stalled = false;
                r_->replies().clear();
            }
            g_object_unref(d);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_RESET:
        case USBDEVFS_RESETEP:
        case USBDEVFS_SETCONFIGURATION:
            umockdev_ioctl_client_complete(client, gone_ ? -1 : 0, gone_ ? ENODEV : 0);
            return TRUE;
        case USBDEVFS_SUBMITURB:
            submit(client, arg);
            return TRUE;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            reap(client, arg);
            return TRUE;
        case USBDEVFS_DISCARDURB:
            discard(client, arg);
            return TRUE;
        default:
            umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : ENOTTY);
            return TRUE;
        }
    }

    void submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        if (gone_) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return;
        }
        UMockdevIoctlData *data
            = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto *urb = reinterpret_cast<usbdevfs_urb *>(data->data);
        UMockdevIoctlData *buffer
            = umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                static_cast<gsize>(std::max(urb->buffer_length, 0)), nullptr);
        if (!buffer || urb->type != USBDEVFS_URB_TYPE_BULK
            || (urb->endpoint != kOut && urb->endpoint != kIn)) {
            if (buffer)
                g_object_unref(buffer);
            g_object_unref(data);
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        Urb u { client, data, buffer };
        urb->actual_length = 0;
        urb->status = 0;
        if (urb->endpoint == kOut) {
            r_->receive(static_cast<const std::uint8_t *>(urb->buffer), urb->buffer_length);
            urb->actual_length = urb->buffer_length;
            done_.push_back(u);
            afterFileData();
        } else if (r_->pipe2Stalled || takeStall()) {
            r_->pipe2Stalled = true;
            urb->status = -EPIPE;
            done_.push_back(u);
        } else {
            waiting_.push_back(u);
            answerWaiting();
        }
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    bool takeStall()
    {
        int &n = r_->faults().stallReads;
        if (n == 0)
            return false;
        if (n > 0)
            --n;
        return true;
    }

    // IN URBs take the recorder's replies once they are due.
    void answerWaiting()
    {
        auto &replies = r_->replies();
        while (!waiting_.empty() && !replies.empty()
            && replies.front().ready <= std::chrono::steady_clock::now()) {
            Urb u = waiting_.front();
            waiting_.pop_front();
            const QByteArray wire = replies.front().wire;
            replies.pop_front();
            usbdevfs_urb *urb = u.urb();
            const int n = std::min<int>(urb->buffer_length, static_cast<int>(wire.size()));
            std::memcpy(urb->buffer, wire.constData(), static_cast<std::size_t>(n));
            urb->actual_length = n;
            r_->countBytesOut(n);
            done_.push_back(u);
        }
    }

    void afterFileData()
    {
        const qint64 taken = r_->stats().fileBytes;
        if (options_.silentAfter >= 0 && taken >= options_.silentAfter)
            r_->faults().noAnswer = -1;
        if (options_.unplugAfter >= 0 && taken >= options_.unplugAfter && !gone_) {
            gone_ = true;
            r_->replies().clear();
            // What was in flight ends as it does when a device is pulled out.
            for (Urb &u : waiting_) {
                u.urb()->status = -ESHUTDOWN;
                done_.push_back(u);
            }
            waiting_.clear();
            if (unplugged)
                unplugSource_ = g_idle_add(
                    [](gpointer self) -> gboolean {
                        auto *device = static_cast<UsbfsDevice *>(self);
                        {
                            std::lock_guard lock(device->mutex_);
                            device->unplugSource_ = 0;
                        }
                        device->unplugged();
                        return G_SOURCE_REMOVE;
                    },
                    this);
        }
    }

    void reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        answerWaiting();
        const auto it = std::find_if(
            done_.begin(), done_.end(), [client](const Urb &u) { return u.client == client; });
        if (it == done_.end()) {
            umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
            return;
        }
        Urb u = *it;
        done_.erase(it);
        UMockdevIoctlData *pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
        umockdev_ioctl_data_set_ptr(pointer, 0, u.data);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(pointer);
        drop(u);
    }

    void discard(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        const gulong address = reinterpret_cast<gulong>(*reinterpret_cast<void **>(arg->data));
        const auto it = std::find_if(waiting_.begin(), waiting_.end(),
            [&](const Urb &u) { return u.client == client && u.data->client_addr == address; });
        if (it == waiting_.end()) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        it->urb()->status = -ENOENT;
        done_.push_back(*it);
        waiting_.erase(it);
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void vanished(UMockdevIoctlClient *client)
    {
        std::lock_guard lock(mutex_);
        if (claimedBy_ == client)
            claimedBy_ = nullptr;
        for (auto *list : { &done_, &waiting_ })
            for (auto it = list->begin(); it != list->end();)
                if (it->client == client) {
                    drop(*it);
                    it = list->erase(it);
                } else
                    ++it;
    }

    std::shared_ptr<SoftwareRecorder> r_;
    UsbfsOptions options_;
    std::mutex mutex_;
    std::deque<Urb> done_; // completed, for the host to reap
    std::deque<Urb> waiting_; // IN URBs waiting for a reply
    UMockdevIoctlClient *claimedBy_ = nullptr;
    bool gone_ = false;
    guint unplugSource_ = 0;
};

struct ChildWait {
    GMainLoop *loop;
    int status = -1;
};

// Runs the command with the emulation in testbed `root` preloaded and waits for it while
// the main loop serves the device. Its exit status, or -1 when it could not be started.
int runPreloaded(const QStringList &command, const gchar *root)
{
    gchar **env = g_get_environ();
    env = g_environ_setenv(env, "UMOCKDEV_DIR", root, TRUE);
    env = g_environ_setenv(
        env, "LD_PRELOAD", preloads(g_environ_getenv(env, "LD_PRELOAD")).constData(), TRUE);
    std::vector<QByteArray> args;
    for (const QString &a : command)
        args.push_back(a.toLocal8Bit());
    std::vector<gchar *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    GPid pid = 0;
    GError *error = nullptr;
    const bool started = g_spawn_async(nullptr, argv.data(), env,
        GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_CHILD_INHERITS_STDIN),
        nullptr, nullptr, &pid, &error);
    g_strfreev(env);
    if (!started) {
        g_printerr("pvr-sim: cannot run %s: %s\n", argv[0], error->message);
        g_clear_error(&error);
        return -1;
    }
    ChildWait wait { g_main_loop_new(nullptr, FALSE) };
    g_child_watch_add(
        pid,
        [](GPid child, gint waitStatus, gpointer data) {
            auto *w = static_cast<ChildWait *>(data);
            w->status
                = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
            g_spawn_close_pid(child);
            g_main_loop_quit(w->loop);
        },
        &wait);
    g_main_loop_run(wait.loop);
    g_main_loop_unref(wait.loop);
    return wait.status;
}

} // namespace

int runOnUsbfs(const std::shared_ptr<SoftwareRecorder> &recorder, const UsbfsOptions &options,
    const QStringList &command)
{
    UMockdevTestbed *testbed = umockdev_testbed_new();
    UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
    UsbfsDevice device(recorder, options);
    g_signal_connect_after(handler, "handle-ioctl", G_CALLBACK(UsbfsDevice::onIoctl), &device);
    g_signal_connect_after(
        handler, "client-vanished", G_CALLBACK(UsbfsDevice::onVanished), &device);
    device.unplugged = [testbed] { umockdev_testbed_remove_device(testbed, kSysPath); };

    GError *error = nullptr;
    // The node answers ioctls before the device appears, so an early open finds it working.
    bool ok = umockdev_testbed_attach_ioctl(testbed, kDevNode, handler, &error);
    const bool high = recorder->speedCode() == 2;
    const QByteArray record = QByteArray("P: /devices/usb1\n"
                                         "N: bus/usb/001/001\n"
                                         "E: SUBSYSTEM=usb\n"
                                         "E: DRIVER=usb\n"
                                         "E: BUSNUM=001\n"
                                         "E: DEVNUM=001\n"
                                         "E: DEVNAME=/dev/bus/usb/001/001\n"
                                         "E: DEVTYPE=usb_device\n"
                                         "E: ID_VENDOR_ID=11db\n"
                                         "E: ID_MODEL_ID=1000\n"
                                         "A: idVendor=11db\\n\n"
                                         "A: idProduct=1000\\n\n"
                                         "A: busnum=1\\n\n"
                                         "A: devnum=1\\n\n"
                                         "A: bConfigurationValue=1\\n\n"
                                         "A: speed=")
        + (high ? "480" : "12") + "\\n\nH: descriptors=" + descriptors(high) + "\n";
    ok = ok && umockdev_testbed_add_from_string(testbed, record.constData(), &error);

    int status = -1;
    if (ok) {
        gchar *root = umockdev_testbed_get_root_dir(testbed);
        status = runPreloaded(command, root);
        g_free(root);
    } else {
        g_printerr("pvr-sim: cannot present the recorder on usbfs: %s\n",
            error ? error->message : "the emulated device could not be added");
        g_clear_error(&error);
    }
    umockdev_testbed_detach_ioctl(testbed, kDevNode, nullptr);
    g_object_unref(handler);
    g_object_unref(testbed);
    return status;
}
