/* Links against the installed SDK and calls it. consumer_test.sh puts the project version in
   place of @PROJECT_VERSION@ when it copies this file into the game. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "CorvaneSDK.h"

int main(void) {
  char* version = CorvaneSDKManager_GetVersion();
  int ok = version != NULL && strcmp(version, "@PROJECT_VERSION@-cpp") == 0;
  printf("corvane %s\n", version != NULL ? version : "(null)");
  free(version);
  return ok && CorvaneSDKManager_GetInstance() == NULL ? 0 : 1;
}
