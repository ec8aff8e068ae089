// Every end-to-end run has a Flash Player: the stand-in control, registered in the fresh prefix
// and reporting a current version unless a test says otherwise.
#include <gtest/gtest.h>

#include <windows.h>

#include "driver.h"
#include "flash_environment.h"
#include "standin_registration.h"

namespace {

HRESULT CallExport(const char* name) {
  return CallStandInExport(driver::HostPath(FLASH_STANDIN_DLL), name);
}

class FlashEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    SetEnvironmentVariableA("STANDIN_FLASH_DLL", driver::HostPath(FLASH_STANDIN_DLL).c_str());
    ASSERT_EQ(RegisterFlashStandIn(), S_OK);
  }
};

const auto* environment = ::testing::AddGlobalTestEnvironment(new FlashEnvironment);

}  // namespace

HRESULT RegisterFlashStandIn() { return CallExport("DllRegisterServer"); }
HRESULT UnregisterFlashStandIn() { return CallExport("DllUnregisterServer"); }
