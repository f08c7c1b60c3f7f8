#include "input_doc.h"

#include "console.h"

#include "../common/banned.h"

XmlState *load_input_document(const char *caller, const char *file, const char *role)
{
    XmlState *state = xml_init();

    if (!state) {
        console_log(0, "%s: ###Error failed to create xml state\n", caller);
        return NULL;
    }
    if (xml_load_document(state, file) < 0) {
        console_log(0, "%s: ###Error failed to load %s xml file:%s\n", caller, role, show_str(file));
        xml_fini(state);
        return NULL;
    }
    return state;
}
