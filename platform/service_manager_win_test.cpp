// Tests of the Win32 service manager adapter's control entry: how real DEV_BROADCAST records
// reach the registered handler. Windows only; the handler is entered as the system would.
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/service_manager_win.h"

namespace qwus {
namespace {

// What the registered handler was last called with; the device-interface event is copied,
// since it lives only for the call.
struct Delivery {
  std::uint32_t control = 0;
  std::uint32_t eventType = 0;
  void* eventData = nullptr;
  void* context = nullptr;
  std::optional<Guid> classGuid;
  std::u16string name;
};
Delivery gDelivery;

std::uint32_t recordingHandler(std::uint32_t control, std::uint32_t eventType, void* eventData,
                               void* context) {
  gDelivery = Delivery{control, eventType, eventData, context, std::nullopt, u""};
  if (control == kServiceControlDeviceEvent && eventData != nullptr &&
      (eventType == kDbtDeviceArrival || eventType == kDbtDeviceRemoveComplete)) {
    const auto* event = static_cast<const DeviceInterfaceEvent*>(eventData);
    gDelivery.classGuid = event->classGuid;
    gDelivery.name = event->name;
  }
  return 0x5A;
}

// A DEV_BROADCAST_DEVICEINTERFACE_W record as the system sends it: the name runs past the
// structure's one-character array.
std::vector<unsigned char> interfaceRecord(const GUID& interfaceClass, const wchar_t* name) {
  const std::size_t nameBytes = (std::wcslen(name) + 1) * sizeof(wchar_t);
  std::vector<unsigned char> bytes(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + nameBytes);
  auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
  record->dbcc_size = static_cast<DWORD>(bytes.size());
  record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  record->dbcc_classguid = interfaceClass;
  std::memcpy(record->dbcc_name, name, nameBytes);
  return bytes;
}

bool sameGuid(const Guid& a, const GUID& b) { return std::memcmp(&a, &b, sizeof b) == 0; }

class ServiceManagerWinTest : public ::testing::Test {
 protected:
  ServiceManagerWinTest() {
    // Outside a service the registration itself fails, but the handler is kept all the same.
    manager.registerControlHandler(u"QuorlanWindowsUpdateService", &recordingHandler, &context);
  }

  DWORD enter(DWORD control, DWORD eventType, void* eventData) {
    gDelivery = Delivery{};
    return WindowsServiceManager::handlerEntry(control, eventType, eventData, &context);
  }

  WindowsServiceManager manager;
  int context = 0;
  const GUID interfaceClass = {0x5E1C7A93, 0x2B64, 0x4D0F,
                               {0x9A, 0x83, 0xC6, 0x1E, 0x27, 0xB4, 0xD8, 0x50}};
};

TEST_F(ServiceManagerWinTest, InterfaceRecordsArriveAsClassAndPath) {
  const wchar_t* path = L"\\\\?\\USB#VID_C4E2&PID_8351#A7X2249#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}";
  auto record = interfaceRecord(interfaceClass, path);
  for (const DWORD eventType : {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE}) {
    SCOPED_TRACE(eventType);
    EXPECT_EQ(enter(SERVICE_CONTROL_DEVICEEVENT, eventType, record.data()), 0x5Au);
    EXPECT_EQ(gDelivery.control, static_cast<std::uint32_t>(SERVICE_CONTROL_DEVICEEVENT));
    EXPECT_EQ(gDelivery.eventType, eventType);
    EXPECT_EQ(gDelivery.context, &context);
    EXPECT_NE(gDelivery.eventData, static_cast<void*>(record.data()));
    ASSERT_TRUE(gDelivery.classGuid);
    EXPECT_TRUE(sameGuid(*gDelivery.classGuid, interfaceClass));
    EXPECT_EQ(gDelivery.name, reinterpret_cast<const char16_t*>(path));
  }
}

TEST_F(ServiceManagerWinTest, OtherRecordTypesAndNoRecordArriveAsNoRecord) {
  DEV_BROADCAST_VOLUME volume{};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  volume.dbcv_unitmask = 1u << 4;
  DEV_BROADCAST_HANDLE handle{};
  handle.dbch_size = sizeof handle;
  handle.dbch_devicetype = DBT_DEVTYP_HANDLE;
  const struct {
    const char* name;
    void* record;
  } cases[] = {{"volume", &volume}, {"handle", &handle}, {"no record", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const DWORD eventType : {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE}) {
      EXPECT_EQ(enter(SERVICE_CONTROL_DEVICEEVENT, eventType, c.record), 0x5Au);
      EXPECT_EQ(gDelivery.eventType, eventType);
      EXPECT_EQ(gDelivery.eventData, nullptr);
      EXPECT_FALSE(gDelivery.classGuid);
    }
  }
}

TEST_F(ServiceManagerWinTest, OtherEventsAndControlsPassTheirDataUnchanged) {
  auto record = interfaceRecord(interfaceClass, L"\\\\?\\USB#VID_C4E2&PID_8351#A7X2249");
  const struct {
    DWORD control;
    DWORD eventType;
  } cases[] = {{SERVICE_CONTROL_DEVICEEVENT, DBT_DEVNODES_CHANGED},
               {SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEQUERYREMOVE},
               {SERVICE_CONTROL_STOP, 0},
               {SERVICE_CONTROL_INTERROGATE, 0},
               {128, 0},
               {129, 0},
               {130, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    SCOPED_TRACE(c.eventType);
    EXPECT_EQ(enter(c.control, c.eventType, record.data()), 0x5Au);
    EXPECT_EQ(gDelivery.control, c.control);
    EXPECT_EQ(gDelivery.eventType, c.eventType);
    EXPECT_EQ(gDelivery.eventData, static_cast<void*>(record.data()));
    EXPECT_EQ(gDelivery.context, &context);
  }
}

}  // namespace
}  // namespace qwus
