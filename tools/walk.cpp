// The two walks behind NodeSink.
#include "walk.h"

#include "engines.h"
#include "text.h"

namespace twxml_cli {

namespace {

// The reader's strings are zero-terminated.
std::string Take(IXmlReader* r, HRESULT (IXmlReader::*get)(LPCWSTR*, UINT*)) {
  LPCWSTR text = nullptr;
  return (r->*get)(&text, nullptr) == S_OK ? Utf8(text) : std::string();
}

void ReaderName(IXmlReader* r, NodeName* n) {
  n->qname = Take(r, &IXmlReader::GetQualifiedName);
  n->prefix = Take(r, &IXmlReader::GetPrefix);
  n->local = Take(r, &IXmlReader::GetLocalName);
  n->ns = Take(r, &IXmlReader::GetNamespaceUri);
}

std::string TakeBstr(BSTR text) {
  std::string out = Utf8(text);
  SysFreeString(text);
  return out;
}

void DomName(IXMLDOMNode* n, NodeName* name) {
  BSTR text = nullptr;
  name->qname = SUCCEEDED(n->get_nodeName(&text)) ? TakeBstr(text) : "";
  text = nullptr;
  name->prefix = SUCCEEDED(n->get_prefix(&text)) ? TakeBstr(text) : "";
  text = nullptr;
  name->local = SUCCEEDED(n->get_baseName(&text)) ? TakeBstr(text) : "";
  text = nullptr;
  name->ns = SUCCEEDED(n->get_namespaceURI(&text)) ? TakeBstr(text) : "";
  if (name->local.empty()) name->local = name->qname;
}

std::string DomValue(IXMLDOMNode* n) {
  VARIANT value;
  VariantInit(&value);
  std::string out;
  if (SUCCEEDED(n->get_nodeValue(&value)) && value.vt == VT_BSTR) out = Utf8(value.bstrVal);
  VariantClear(&value);
  return out;
}

// An element's start and its attributes.
bool DomStart(IXMLDOMNode* element, NodeSink& sink) {
  NodeName name;
  DomName(element, &name);
  if (!sink.Start(name)) return false;
  Ref<IXMLDOMNamedNodeMap> attributes;
  LONG count = 0;
  if (FAILED(element->get_attributes(attributes.out())) || !attributes ||
      FAILED(attributes->get_length(&count)))
    return true;
  for (LONG i = 0; i < count; ++i) {
    Ref<IXMLDOMNode> a;
    if (FAILED(attributes->get_item(i, a.out())) || !a) continue;
    DomName(a.get(), &name);
    if (!sink.Attribute(name, DomValue(a.get()))) return false;
  }
  return true;
}

WalkResult WalkReader(IXmlReader* reader, NodeSink& sink, Problem* problem) {
  NodeName name;
  XmlNodeType type;
  HRESULT hr;
  while ((hr = reader->Read(&type)) == S_OK) {
    bool go = true;
    switch (type) {
      case XmlNodeType_Element: {
        ReaderName(reader, &name);
        go = sink.Start(name);
        for (hr = reader->MoveToFirstAttribute(); go && hr == S_OK; hr = reader->MoveToNextAttribute()) {
          ReaderName(reader, &name);
          go = sink.Attribute(name, Take(reader, &IXmlReader::GetValue));
        }
        reader->MoveToElement();
        if (go && reader->IsEmptyElement()) go = sink.End();
        break;
      }
      case XmlNodeType_EndElement:
        go = sink.End();
        break;
      case XmlNodeType_Text:
      case XmlNodeType_CDATA:
      case XmlNodeType_Whitespace: {
        UINT depth = 0;
        reader->GetDepth(&depth);
        if (depth > 0) go = sink.Text(Take(reader, &IXmlReader::GetValue));
        break;
      }
      default:
        break;
    }
    if (!go) return WalkResult::kStopped;
  }
  if (hr == S_FALSE) return WalkResult::kDone;
  *problem = ReaderProblem(reader, hr);
  return WalkResult::kFailed;
}

// The document element and all below it.
WalkResult WalkDom(IXMLDOMDocument* document, NodeSink& sink) {
  Ref<IXMLDOMElement> root;
  Ref<IXMLDOMNode> node;
  if (FAILED(document->get_documentElement(root.out())) || !root ||
      FAILED(root->QueryInterface(IID_IXMLDOMNode, node.outVoid())) || !node)
    return WalkResult::kDone;
  size_t depth = 0;  // below the document element
  for (;;) {
    DOMNodeType type = NODE_INVALID;
    node->get_nodeType(&type);
    bool descend = false;
    if (type == NODE_ELEMENT) {
      if (!DomStart(node.get(), sink)) return WalkResult::kStopped;
      Ref<IXMLDOMNode> child;
      if (SUCCEEDED(node->get_firstChild(child.out())) && child) {
        node = std::move(child);
        ++depth;
        descend = true;
      } else if (!sink.End()) {
        return WalkResult::kStopped;
      }
    } else if (type == NODE_TEXT || type == NODE_CDATA_SECTION) {
      if (!sink.Text(DomValue(node.get()))) return WalkResult::kStopped;
    }
    if (descend) continue;
    // On to the next sibling, closing the elements left on the way up.
    for (;;) {
      if (depth == 0) return WalkResult::kDone;
      Ref<IXMLDOMNode> next;
      if (SUCCEEDED(node->get_nextSibling(next.out())) && next) {
        node = std::move(next);
        break;
      }
      Ref<IXMLDOMNode> parent;
      if (FAILED(node->get_parentNode(parent.out())) || !parent) return WalkResult::kDone;
      node = std::move(parent);
      --depth;
      if (!sink.End()) return WalkResult::kStopped;
    }
  }
}

// What the sink was shown lacks the references the engine left unexpanded:
// said in *incomplete rather than hidden.
WalkResult Complete(IUnknown* engine, WalkResult result, Problem* incomplete) {
  if (result == WalkResult::kDone && incomplete) SkippedReferences(engine, incomplete);
  return result;
}

}  // namespace

WalkResult ReadDocument(IStream* input, bool dom, NodeSink* sink, Problem* problem,
                        Problem* incomplete) {
  std::string error;
  if (dom) {
    Ref<IXMLDOMDocument> document = NewDomDocument(&error);
    if (document) {
      HRESULT hr = LoadDom(document.get(), input);
      if (SUCCEEDED(hr) && !sink) return WalkResult::kDone;
      if (SUCCEEDED(hr)) return Complete(document.get(), WalkDom(document.get(), *sink), incomplete);
      *problem = DomProblem(document.get(), hr);
      return WalkResult::kFailed;
    }
  } else {
    Ref<IXmlReader> reader = NewReader(&error);
    if (reader) {
      reader->SetInput(input);
      if (sink) return Complete(reader.get(), WalkReader(reader.get(), *sink, problem), incomplete);
      XmlNodeType type;
      HRESULT hr;
      while ((hr = reader->Read(&type)) == S_OK) {
      }
      if (hr == S_FALSE) return WalkResult::kDone;
      *problem = ReaderProblem(reader.get(), hr);
      return WalkResult::kFailed;
    }
  }
  *problem = Problem();
  problem->message = error;
  return WalkResult::kFailed;
}

}  // namespace twxml_cli
