/* The public header must compile as strict C99. */
#include "CorvaneSDK.h"

static void corvane_c99_log(int level, const char* line, void* userData) {
  (void)level;
  (void)line;
  (void)userData;
}

int corvane_header_c99_check(void);
int corvane_header_c99_check(void) {
  CorvaneSDKManagerRef manager = CorvaneSDKManager_GetInstance();
  CorvaneSDKLogCallback callback = corvane_c99_log;
  (void)callback;
  (void)&CorvaneSDKManager_SetLogCallback;
  (void)&CorvaneSDKManager_Flush;
  (void)&InitializationData_SetCollectDeviceIdentifiers;
  return manager == 0 ? CORVANE_EVENT_FLAG_EARLY : 0;
}
