// The calling thread's last failed document load in a reader factory, kept
// for XmlInterface::GetLastLoadErrorF (a factory that fails hands out no
// object to ask).
#pragma once

class KxXMLParser;

namespace twxml_detail {
// Forgets the thread's last load failure: every reader factory call starts so.
void ClearLoadError();
// Keeps the load failure of parser (its LoadFromStreamF having failed).
void RecordLoadError(KxXMLParser* parser);
}  // namespace twxml_detail
