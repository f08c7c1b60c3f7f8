// Documents and files as text, for comparing in tests.
#ifndef XMLCFG_TEST_DOC_TEXT_H
#define XMLCFG_TEST_DOC_TEXT_H

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include <libxml/tree.h>

#include "xmldata.h"

// A loaded document as the store would save it.
inline std::string doc_text(XmlState *state)
{
    xmlChar *mem = nullptr;
    int size = 0;

    xmlDocDumpMemory(get_pDoc(state), &mem, &size);
    std::string text(reinterpret_cast<const char *>(mem), size);
    xmlFree(mem);
    return text;
}

// The same without the XML declaration: the root element and what follows.
inline std::string doc_body(XmlState *state)
{
    std::string text = doc_text(state);
    return text.substr(text.find('\n') + 1);
}

// A template for mkstemp or mkdtemp in $TMPDIR, else in /tmp.
inline std::string temp_template(const std::string &prefix)
{
    const char *tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
}

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

#endif
