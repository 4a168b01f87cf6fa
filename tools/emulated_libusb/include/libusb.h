/* The part of the libusb-1.0 C API that dfu-util 0.11 calls, as the emulated bus provides it: the
 * types, constants and functions it names, with the same names, values and meaning as in libusb
 * 1.0.26. Anything dfu-util does not use is left out, so a build of another program that needs
 * more fails at compile time rather than misbehaving. */
#ifndef QWUS_EMULATED_LIBUSB_H
#define QWUS_EMULATED_LIBUSB_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The API level of libusb 1.0.26: port numbers (0x01000102) and libusb_set_option (0x01000106). */
#define LIBUSB_API_VERSION 0x01000109

/* Host-to-device and device-to-host in bmRequestType and endpoint addresses. */
enum libusb_endpoint_direction { LIBUSB_ENDPOINT_OUT = 0x00, LIBUSB_ENDPOINT_IN = 0x80 };

/* The request type bits of bmRequestType. */
enum libusb_request_type {
  LIBUSB_REQUEST_TYPE_STANDARD = 0x00 << 5,
  LIBUSB_REQUEST_TYPE_CLASS = 0x01 << 5,
  LIBUSB_REQUEST_TYPE_VENDOR = 0x02 << 5
};

/* The recipient bits of bmRequestType. */
enum libusb_request_recipient {
  LIBUSB_RECIPIENT_DEVICE = 0x00,
  LIBUSB_RECIPIENT_INTERFACE = 0x01,
  LIBUSB_RECIPIENT_ENDPOINT = 0x02
};

/* Standard descriptor types. */
enum libusb_descriptor_type {
  LIBUSB_DT_DEVICE = 0x01,
  LIBUSB_DT_CONFIG = 0x02,
  LIBUSB_DT_STRING = 0x03,
  LIBUSB_DT_INTERFACE = 0x04
};

/* Standard requests. */
enum libusb_standard_request {
  LIBUSB_REQUEST_GET_DESCRIPTOR = 0x06,
  LIBUSB_REQUEST_SET_CONFIGURATION = 0x09,
  LIBUSB_REQUEST_SET_INTERFACE = 0x0B
};

/* Error codes, as every function returns them. */
enum libusb_error {
  LIBUSB_SUCCESS = 0,
  LIBUSB_ERROR_IO = -1,
  LIBUSB_ERROR_INVALID_PARAM = -2,
  LIBUSB_ERROR_ACCESS = -3,
  LIBUSB_ERROR_NO_DEVICE = -4,
  LIBUSB_ERROR_NOT_FOUND = -5,
  LIBUSB_ERROR_BUSY = -6,
  LIBUSB_ERROR_TIMEOUT = -7,
  LIBUSB_ERROR_OVERFLOW = -8,
  LIBUSB_ERROR_PIPE = -9,
  LIBUSB_ERROR_INTERRUPTED = -10,
  LIBUSB_ERROR_NO_MEM = -11,
  LIBUSB_ERROR_NOT_SUPPORTED = -12,
  LIBUSB_ERROR_OTHER = -99
};

/* Options of libusb_set_option, and the log levels of LIBUSB_OPTION_LOG_LEVEL. */
enum libusb_option { LIBUSB_OPTION_LOG_LEVEL = 0 };
enum libusb_log_level {
  LIBUSB_LOG_LEVEL_NONE = 0,
  LIBUSB_LOG_LEVEL_ERROR = 1,
  LIBUSB_LOG_LEVEL_WARNING = 2,
  LIBUSB_LOG_LEVEL_INFO = 3,
  LIBUSB_LOG_LEVEL_DEBUG = 4
};

/* The emulation runs on little-endian machines only, as USB's byte order is. */
#define libusb_cpu_to_le16(x) ((uint16_t)(x))
#define libusb_le16_to_cpu(x) ((uint16_t)(x))

/* The 18-byte device descriptor, in host byte order. */
struct libusb_device_descriptor {
  uint8_t bLength;
  uint8_t bDescriptorType;
  uint16_t bcdUSB;
  uint8_t bDeviceClass;
  uint8_t bDeviceSubClass;
  uint8_t bDeviceProtocol;
  uint8_t bMaxPacketSize0;
  uint16_t idVendor;
  uint16_t idProduct;
  uint16_t bcdDevice;
  uint8_t iManufacturer;
  uint8_t iProduct;
  uint8_t iSerialNumber;
  uint8_t bNumConfigurations;
};

/* An endpoint descriptor (the emulated devices have none beyond endpoint zero). */
struct libusb_endpoint_descriptor {
  uint8_t bLength;
  uint8_t bDescriptorType;
  uint8_t bEndpointAddress;
  uint8_t bmAttributes;
  uint16_t wMaxPacketSize;
  uint8_t bInterval;
  uint8_t bRefresh;
  uint8_t bSynchAddress;
  const unsigned char *extra;
  int extra_length;
};

/* One alternate setting of an interface; `extra` holds the descriptors that follow it in the
 * configuration up to the next interface or endpoint descriptor (a DFU functional descriptor). */
struct libusb_interface_descriptor {
  uint8_t bLength;
  uint8_t bDescriptorType;
  uint8_t bInterfaceNumber;
  uint8_t bAlternateSetting;
  uint8_t bNumEndpoints;
  uint8_t bInterfaceClass;
  uint8_t bInterfaceSubClass;
  uint8_t bInterfaceProtocol;
  uint8_t iInterface;
  const struct libusb_endpoint_descriptor *endpoint;
  const unsigned char *extra;
  int extra_length;
};

/* One interface: its alternate settings in the order the configuration lists them. */
struct libusb_interface {
  const struct libusb_interface_descriptor *altsetting;
  int num_altsetting;
};

/* A configuration with its interfaces; `extra` holds descriptors between the configuration
 * descriptor and the first interface descriptor. */
struct libusb_config_descriptor {
  uint8_t bLength;
  uint8_t bDescriptorType;
  uint16_t wTotalLength;
  uint8_t bNumInterfaces;
  uint8_t bConfigurationValue;
  uint8_t iConfiguration;
  uint8_t bmAttributes;
  uint8_t MaxPower;
  const struct libusb_interface *interface;
  const unsigned char *extra;
  int extra_length;
};

/* The library's version, as libusb_get_version reports it. */
struct libusb_version {
  const uint16_t major;
  const uint16_t minor;
  const uint16_t micro;
  const uint16_t nano;
  const char *rc;
  const char *describe;
};

typedef struct libusb_context libusb_context;
typedef struct libusb_device libusb_device;
typedef struct libusb_device_handle libusb_device_handle;

/* Reads the emulated bus from the state file and makes a context over it. 0 or an error code. */
int libusb_init(libusb_context **ctx);
/* Ends the context; the bus's state after the run is written back when the first context ends
 * or, failing that, when the process exits. */
void libusb_exit(libusb_context *ctx);
/* Log levels are accepted and ignored: the emulation logs nothing. */
int libusb_set_option(libusb_context *ctx, enum libusb_option option, ...);
/* The version of the libusb whose API this is, marked as the emulation in `rc`. */
const struct libusb_version *libusb_get_version(void);
/* The name of an error code ("LIBUSB_ERROR_PIPE"), "**UNKNOWN**" for others. */
const char *libusb_error_name(int error_code);

/* The devices on the bus as a NULL-terminated array; returns their number. */
ssize_t libusb_get_device_list(libusb_context *ctx, libusb_device ***list);
/* Frees the array of libusb_get_device_list (the devices live as long as the context). */
void libusb_free_device_list(libusb_device **list, int unref_devices);
libusb_device *libusb_ref_device(libusb_device *dev);
void libusb_unref_device(libusb_device *dev);

/* The device descriptor as the device answers it. */
int libusb_get_device_descriptor(libusb_device *dev, struct libusb_device_descriptor *desc);
/* Configuration number `config_index` as the device answers it, parsed; free it with
 * libusb_free_config_descriptor. LIBUSB_ERROR_NOT_FOUND when there is no such configuration. */
int libusb_get_config_descriptor(libusb_device *dev, uint8_t config_index,
                                 struct libusb_config_descriptor **config);
void libusb_free_config_descriptor(struct libusb_config_descriptor *config);
uint8_t libusb_get_bus_number(libusb_device *dev);
uint8_t libusb_get_device_address(libusb_device *dev);
/* The ports from the root hub to the device; returns their number. */
int libusb_get_port_numbers(libusb_device *dev, uint8_t *port_numbers, int port_numbers_len);

/* Opens the device; LIBUSB_ERROR_NOT_SUPPORTED for a device without a usable driver. */
int libusb_open(libusb_device *dev, libusb_device_handle **dev_handle);
void libusb_close(libusb_device_handle *dev_handle);
int libusb_set_configuration(libusb_device_handle *dev_handle, int configuration);
int libusb_claim_interface(libusb_device_handle *dev_handle, int interface_number);
int libusb_release_interface(libusb_device_handle *dev_handle, int interface_number);
/* Sends SET_INTERFACE to the device. */
int libusb_set_interface_alt_setting(libusb_device_handle *dev_handle, int interface_number,
                                     int alternate_setting);
/* A USB reset: the device re-enumerates as its state machine decides. */
int libusb_reset_device(libusb_device_handle *dev_handle);
/* One control transfer. Returns the bytes transferred, LIBUSB_ERROR_PIPE when the device stalls
 * the request. */
int libusb_control_transfer(libusb_device_handle *dev_handle, uint8_t request_type,
                            uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                            unsigned char *data, uint16_t wLength, unsigned int timeout);

/* GET_DESCRIPTOR of any type from the device. */
static inline int libusb_get_descriptor(libusb_device_handle *dev_handle, uint8_t desc_type,
                                        uint8_t desc_index, unsigned char *data, int length) {
  return libusb_control_transfer(dev_handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                 (desc_type << 8) | desc_index, 0, data, length, 1000);
}

/* GET_DESCRIPTOR of a string descriptor in language `langid`, raw (UTF-16LE after two bytes). */
static inline int libusb_get_string_descriptor(libusb_device_handle *dev_handle,
                                               uint8_t desc_index, uint16_t langid,
                                               unsigned char *data, int length) {
  return libusb_control_transfer(dev_handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                 (LIBUSB_DT_STRING << 8) | desc_index, langid, data, length,
                                 1000);
}

#ifdef __cplusplus
}
#endif

#endif /* QWUS_EMULATED_LIBUSB_H */
