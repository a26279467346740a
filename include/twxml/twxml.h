// twxml: XML access library. One include for every exported name.
#pragma once

#include "twxml/version.h"
#include "twxml/platform/win32.h"
#include "twxml/platform/com.h"
#include "twxml/platform/msxml.h"
#include "twxml/status.h"
#include "twxml/kxstream.h"
#include "twxml/kernel.h"
#include "twxml/handles.h"
#include "twxml/document.h"
#include "twxml/xmlinterface.h"
