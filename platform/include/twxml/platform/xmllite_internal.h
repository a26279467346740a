// The streaming reader linked in-process from the parser core (no module
// load): the document model's loader uses it so it works without the module.
// Not installed and not exported; the module's factory calls it too.
#pragma once

#include "twxml/platform/xmllite.h"

HRESULT TwCreateXmlReaderInProc(REFIID iid, void** out);
