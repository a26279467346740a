// Status codes answered by the library's operations; 0 is success.
#pragma once

enum TwxmlStatus : int {
  TWXML_OK = 0,
  TWXML_E_ALLOC = 1,      // an allocation failed (engine object, text copy)
  TWXML_E_CREATE = 12,    // making a handle or stream failed, or a document did not load
  TWXML_E_NOTFOUND = 30,  // not there as asked: other node type, missing/too long name or attribute
  TWXML_E_HANDLE = 44,    // bad handle, or a document object without DOM document
  TWXML_E_EOF = 76,       // end of input
  TWXML_E_ENGINE = 255,   // the streaming reader or writer failed
  TWXML_E_DOM = -1        // a DOM operation was not done
};
