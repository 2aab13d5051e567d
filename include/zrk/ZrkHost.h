// Everything a plug-in may ask of its host. The host's root is a plain IMInterface (given to
// IZRKModule::Initialize); its QueryInterface hands out the services below by name, without a reference
// (their Release is a no-op), and leaves *out null for a service the host does not offer.
#pragma once

#include "zrk/IEnumData.h"
#include "zrk/IExecContext.h"
#include "zrk/IHostVariable.h"
#include "zrk/IKorrelRemote.h"
#include "zrk/IKorrelRemoteHandler.h"
#include "zrk/IKorrelRemoteManager.h"
#include "zrk/IKorrelRuntimeInfo.h"
#include "zrk/IMInterface.h"
#include "zrk/IThemeManager.h"
#include "zrk/IVariableManager.h"
#include "zrk/IZRKCallContext.h"
#include "zrk/IZRKDevice.h"
#include "zrk/IZRKHostDevice.h"
#include "zrk/IZRKModule.h"
#include "zrk/IZRKRect.h"
#include "zrk/ZrkEntryPoint.h"
#include "zrk/ZrkHandles.h"
#include "zrk/ZrkTypes.h"

// Names of the host's services.
#define ZRK_RUNTIME_INFO "IKorrelRuntimeInfo"
#define ZRK_REMOTE_MANAGER "IKorrelRemoteManager"
#define ZRK_REMOTE_MANAGER2 "IKorrelRemoteManager2"
#define ZRK_VARIABLE_MANAGER "IVariableManager"
#define ZRK_THEME_MANAGER "IThemeManager"
#define ZRK_ENUM_DATA "IEnumData"
