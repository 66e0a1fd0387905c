/* Links against the installed SDK and calls it. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "CorvaneSDK.h"

int main(void) {
  char* version = CorvaneSDKManager_GetVersion();
  int ok = version != NULL && strcmp(version, "0.0.17-cpp") == 0;
  printf("corvane %s\n", version != NULL ? version : "(null)");
  free(version);
  return ok && CorvaneSDKManager_GetInstance() == NULL ? 0 : 1;
}
