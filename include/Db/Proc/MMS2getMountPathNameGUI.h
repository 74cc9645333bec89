// Mount path details. Input: mount path id.
#pragma once

#include "Db/Binding.h"

#define MMS2getMountPathNameGUI_COLUMNS(X) \
  X(o_mountPathId, INT32, 0) \
  X(o_mountPathName, WCHARS, 4097) \
  X(o_mediaSideId, INT32, 0) \
  X(o_masterPoolId, INT32, 0) \
  X(o_libraryId, INT32, 0) \
  X(o_mountPathType, INT32, 0) \
  X(o_mediaId, INT32, 0) \
  X(o_deviceId, INT32, 0) \
  X(o_centeraId, INT32, 0) \
  X(o_IsEnabled, INT32, 0) \
  X(o_IsOffline, INT32, 0) \
  X(o_Attribute, INT32, 0)

DB_BINDING(MMS2getMountPathNameGUI, Procedure, "", "")
