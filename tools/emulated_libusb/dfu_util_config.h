/* config.h of dfu-util 0.11 for the MinGW-w64 x86_64 target: what dfu-util's configure finds
 * there (Windows headers, unistd.h and nanosleep; no err.h, no sysexits.h), so that the emulated
 * tool is built as the shipped one is. */
#define HAVE_INTTYPES_H 1
#define HAVE_MEMORY_H 1
#define HAVE_NANOSLEEP 1
#define HAVE_STDINT_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRINGS_H 1
#define HAVE_STRING_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_UNISTD_H 1
#define HAVE_WINDOWS_H 1
#define PACKAGE "dfu-util"
#define PACKAGE_BUGREPORT "http://sourceforge.net/p/dfu-util/tickets/"
#define PACKAGE_NAME "dfu-util"
#define PACKAGE_STRING "dfu-util 0.11"
#define PACKAGE_TARNAME "dfu-util"
#define PACKAGE_URL "http://dfu-util.sourceforge.net"
#define PACKAGE_VERSION "0.11"
#define STDC_HEADERS 1
#define VERSION "0.11"
#define _FILE_OFFSET_BITS 64
