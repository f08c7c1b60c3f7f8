// A loaded document as the store would save it, for comparing in tests.
#ifndef XMLCFG_TEST_DOC_TEXT_H
#define XMLCFG_TEST_DOC_TEXT_H

#include <string>

#include <libxml/tree.h>

#include "xmldata.h"

inline std::string doc_text(XmlState *state)
{
    xmlChar *mem = nullptr;
    int size = 0;

    xmlDocDumpMemory(get_pDoc(state), &mem, &size);
    std::string text(reinterpret_cast<const char *>(mem), size);
    xmlFree(mem);
    return text;
}

#endif
