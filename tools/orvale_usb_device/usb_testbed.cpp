// umockdev glue: sysfs devices, usbdevfs ioctl handlers and the program run in the testbed.
#include "tools/orvale_usb_device/usb_testbed.h"

#include <glib.h>
#include <linux/capability.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <utility>

namespace qwus::usbdevice {
namespace {

constexpr std::uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                        USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

std::string hex4(unsigned value) {
  char text[8];
  (void)std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

std::string hexByte(std::uint8_t value) {
  char text[4];
  (void)std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
  return text;
}

std::string hexNoPad(unsigned value) {
  char text[8];
  (void)std::snprintf(text, sizeof text, "%x", value);
  return text;
}

// An attribute value as umockdev's record format holds it: it unescapes backslashes (g_strcompress).
std::string recordValue(const std::string& text) {
  std::string escaped;
  for (char c : text) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return escaped;
}

// The record line of a text attribute, which ends in a line feed as the kernel writes it: readers
// such as usbutils drop the last character of a string attribute.
std::string attributeLine(const std::string& name, const std::string& text) {
  return "A: " + name + "=" + recordValue(text) + "\\n\n";
}

std::string devicePath(int devnum) {
  char path[64];
  (void)std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03d", devnum);
  return path;
}

// Owns one reference to a GObject.
template <typename T>
struct GObjectRef {
  T* object = nullptr;
  GObjectRef() = default;
  explicit GObjectRef(T* owned) : object(owned) {}
  GObjectRef(const GObjectRef&) = delete;
  GObjectRef& operator=(const GObjectRef&) = delete;
  GObjectRef(GObjectRef&& other) noexcept : object(other.object) { other.object = nullptr; }
  GObjectRef& operator=(GObjectRef&&) = delete;
  ~GObjectRef() {
    if (object != nullptr) g_object_unref(object);
  }
};

// Answers one device node's usbdevfs ioctls. Control URBs are carried out at submission, and
// handed back, in order, by the reaps that follow.
class DevicePort {
 public:
  explicit DevicePort(const BusDevice& device)
      : device_(device.identity, device.dfu), isOrvale_(device.isOrvale) {}
  DevicePort(const DevicePort&) = delete;
  DevicePort& operator=(const DevicePort&) = delete;

  gboolean handle(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
      case USBDEVFS_GET_CAPABILITIES: {
        GObjectRef<UMockdevIoctlData> caps(
            umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr));
        if (caps.object == nullptr) return fail(client, EFAULT);
        std::memcpy(caps.object->data, &kCapabilities, sizeof kCapabilities);
        return succeed(client);
      }
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_DISCONNECT_CLAIM:
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_SETINTERFACE:
      case USBDEVFS_SETCONFIGURATION:
      case USBDEVFS_CLEAR_HALT:
        return succeed(client);
      case USBDEVFS_RESET:
        device_.usbReset();
        return succeed(client);
      case USBDEVFS_SUBMITURB:
        return submit(client, arg);
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        return reap(client, arg);
      case USBDEVFS_DISCARDURB:
        return fail(client, EINVAL);  // every URB is done at once: nothing is left to discard
      default:
        return fail(client, ENOTTY);
    }
  }

  const EmulatedDevice& device() const { return device_; }
  bool isOrvale() const { return isOrvale_; }

 private:
  static gboolean succeed(UMockdevIoctlClient* client) {
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
  }
  static gboolean fail(UMockdevIoctlClient* client, int error) {
    umockdev_ioctl_client_complete(client, -1, error);
    return TRUE;
  }

  gboolean submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    // The argument is the program's pointer to its URB; the URB's buffer is a pointer in turn.
    GObjectRef<UMockdevIoctlData> urbData(
        umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr));
    if (urbData.object == nullptr) return fail(client, EFAULT);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData.object->data);
    if (urb->type != USBDEVFS_URB_TYPE_CONTROL || urb->buffer_length < 8) {
      return fail(client, EINVAL);
    }
    GObjectRef<UMockdevIoctlData> buffer(
        umockdev_ioctl_data_resolve(urbData.object, offsetof(usbdevfs_urb, buffer),
                                    static_cast<gsize>(urb->buffer_length), nullptr));
    if (buffer.object == nullptr) return fail(client, EFAULT);
    std::uint8_t* bytes = buffer.object->data;
    const SetupPacket setup = SetupPacket::parse(bytes);
    const std::size_t room = static_cast<std::size_t>(urb->buffer_length) - 8;
    Bytes sent;
    if (!setup.deviceToHost())
      sent.assign(bytes + 8, bytes + 8 + std::min<std::size_t>(setup.length, room));

    const ControlReply reply = device_.control(setup, sent);
    if (!reply) {
      urb->status = -EPIPE;  // a stall
      urb->actual_length = 0;
    } else if (setup.deviceToHost()) {
      const std::size_t n = std::min(reply->size(), room);
      std::memcpy(bytes + 8, reply->data(), n);
      urb->status = 0;
      urb->actual_length = static_cast<int>(n);
    } else {
      urb->status = 0;
      urb->actual_length = static_cast<int>(sent.size());
    }
    done_.push_back(std::move(urbData));
    return succeed(client);
  }

  gboolean reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    if (done_.empty()) return fail(client, EAGAIN);
    GObjectRef<UMockdevIoctlData> slot(umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr));
    if (slot.object == nullptr) return fail(client, EFAULT);
    // The slot takes its own reference to the URB.
    umockdev_ioctl_data_set_ptr(slot.object, 0, done_.front().object);
    done_.pop_front();
    return succeed(client);
  }

  EmulatedDevice device_;
  bool isOrvale_;
  std::deque<GObjectRef<UMockdevIoctlData>> done_;
};

gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer port) {
  return static_cast<DevicePort*>(port)->handle(client);
}

struct ChildResult {
  GMainLoop* loop = nullptr;
  int status = -1;
};

void onChildExit(GPid pid, gint waitStatus, gpointer data) {
  auto* result = static_cast<ChildResult*>(data);
  if (WIFEXITED(waitStatus)) {
    result->status = WEXITSTATUS(waitStatus);
  } else if (WIFSIGNALED(waitStatus)) {
    result->status = 128 + WTERMSIG(waitStatus);
  }
  g_spawn_close_pid(pid);
  g_main_loop_quit(result->loop);
}

// Runs in the child before exec: the program loses the capabilities that override file
// permissions, so that a device node without permissions refuses it as it refuses a user without
// the rights. They go from every set: a capability left in the inheritable or ambient set, or in
// the bounding set of a program run as root, is back in force after the exec.
void dropPermissionOverride(gpointer) {
  constexpr int kOverrides[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH};
  for (const int capability : kOverrides) {
    // EINVAL: a kernel without ambient capabilities. EPERM: no CAP_SETPCAP to shrink the bounding
    // set, which only matters for root and is checked below.
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, capability, 0, 0) != 0 && errno != EINVAL) {
      _exit(126);
    }
    if (prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0 && errno != EPERM) _exit(126);
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, sets) != 0) _exit(126);
  for (const int capability : kOverrides) {
    __user_cap_data_struct& set = sets[CAP_TO_INDEX(capability)];
    const auto mask = static_cast<__u32>(CAP_TO_MASK(capability));
    set.effective &= ~mask;
    set.permitted &= ~mask;
    set.inheritable &= ~mask;
  }
  if (syscall(SYS_capset, &header, sets) != 0) _exit(126);
  const bool root = getuid() == 0 || geteuid() == 0;
  for (const int capability : kOverrides) {
    if (root && prctl(PR_CAPBSET_READ, capability, 0, 0, 0) != 0) _exit(126);
  }
}

}  // namespace

struct UsbTestbed::Impl {
  // Destroyed in reverse order: the testbed, which answers through the handlers, goes first, and
  // the ports, which the handlers' signals point into, go last.
  std::vector<std::unique_ptr<DevicePort>> ports;
  std::vector<GObjectRef<UMockdevIoctlBase>> handlers;
  GObjectRef<UMockdevTestbed> testbed{umockdev_testbed_new()};
  bool anyDenied = false;
};

UsbTestbed::UsbTestbed() : impl_(std::make_unique<Impl>()) {}

UsbTestbed::~UsbTestbed() = default;

bool UsbTestbed::add(const BusDevice& device, std::string& error) {
  UMockdevTestbed* testbed = impl_->testbed.object;
  const UsbIdentity& id = device.identity;
  const std::string node = devicePath(device.devnum);
  Bytes descriptors = deviceDescriptor(id);
  const Bytes configuration = configurationDescriptor(id);
  descriptors.insert(descriptors.end(), configuration.begin(), configuration.end());
  std::string hex;
  for (std::uint8_t byte : descriptors) hex += hexByte(byte);

  // umockdev's record format: only a record with an N: line gets a device node in the testbed.
  const std::string record =
      "P: /devices/" + device.sysName + "\n" + "N: " + node.substr(5) + "\n" +
      "E: DEVNAME=" + node + "\n" + "E: DEVTYPE=usb_device\n" + "E: SUBSYSTEM=usb\n" +
      "E: BUSNUM=001\n" + "E: DEVNUM=" + node.substr(node.size() - 3) + "\n" +
      "E: PRODUCT=" + hexNoPad(id.vendor) + "/" + hexNoPad(id.product) + "/" +
      hexNoPad(id.bcdDevice) + "\n" + attributeLine("idVendor", hex4(id.vendor)) +
      attributeLine("idProduct", hex4(id.product)) +
      attributeLine("bcdDevice", hex4(id.bcdDevice)) +
      attributeLine("busnum", "1") + attributeLine("devnum", std::to_string(device.devnum)) +
      attributeLine("dev", "189:" + std::to_string(device.devnum - 1)) +
      attributeLine("speed", "480") +
      attributeLine("bConfigurationValue", std::to_string(id.configurationValue)) +
      attributeLine("bNumConfigurations", "1") + attributeLine("manufacturer", id.manufacturer) +
      attributeLine("product", id.productName) + attributeLine("serial", id.serial) +
      "H: descriptors=" + hex + "\n";
  GError* addError = nullptr;
  if (!umockdev_testbed_add_from_string(testbed, record.c_str(), &addError)) {
    error = std::string("umockdev refused the device: ") + addError->message;
    g_error_free(addError);
    return false;
  }

  impl_->ports.push_back(std::make_unique<DevicePort>(device));
  if (device.accessDenied) {
    // The tool finds the device in sysfs but may not open its node, as on a PC where no WinUSB
    // driver is bound to it; no ioctl handler is needed.
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    const std::string file = std::string(root) + node;
    g_free(root);
    if (chmod(file.c_str(), 0) != 0) {
      error = "cannot take the permissions of " + node + ": " + g_strerror(errno);
      return false;
    }
    impl_->anyDenied = true;
    return true;
  }
  impl_->handlers.emplace_back(umockdev_ioctl_base_new());
  UMockdevIoctlBase* handler = impl_->handlers.back().object;
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), impl_->ports.back().get());
  GError* attachError = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed, node.c_str(), handler, &attachError)) {
    error = std::string("umockdev cannot answer ") + node + ": " + attachError->message;
    g_error_free(attachError);
    return false;
  }
  return true;
}

int UsbTestbed::run(const std::vector<std::string>& argv, std::string& error) {
  std::vector<gchar*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<gchar*>(arg.c_str()));
  args.push_back(nullptr);

  gchar** environment = g_get_environ();
  const gchar* preload = g_environ_getenv(environment, "LD_PRELOAD");
  const std::string preloads =
      std::string("libumockdev-preload.so.0") +
      (preload != nullptr && *preload != '\0' ? std::string(":") + preload : "");
  environment = g_environ_setenv(environment, "LD_PRELOAD", preloads.c_str(), TRUE);

  GPid pid = 0;
  GError* spawnError = nullptr;
  const auto flags = static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                              G_SPAWN_CHILD_INHERITS_STDIN);
  const gboolean started = g_spawn_async(nullptr, args.data(), environment, flags,
                                         impl_->anyDenied ? dropPermissionOverride : nullptr,
                                         nullptr, &pid, &spawnError);
  g_strfreev(environment);
  if (!started) {
    error = std::string("cannot start ") + argv.front() + ": " + spawnError->message;
    g_error_free(spawnError);
    return -1;
  }
  ChildResult result;
  result.loop = g_main_loop_new(nullptr, FALSE);
  g_child_watch_add(pid, onChildExit, &result);
  g_main_loop_run(result.loop);
  g_main_loop_unref(result.loop);
  return result.status;
}

const EmulatedDevice* UsbTestbed::orvale() const {
  for (const auto& port : impl_->ports) {
    if (port->isOrvale()) return &port->device();
  }
  return nullptr;
}

}  // namespace qwus::usbdevice
