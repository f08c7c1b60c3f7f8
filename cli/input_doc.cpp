#include "input_doc.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console.h"
#include "../xmldata/xmldata_input.h"

#include "../common/banned.h"

XmlState *load_input_document(const char *caller, const char *file, const char *role)
{
    XmlState *state = xml_init();
    int fault;

    if (!state) {
        console_log(0, "%s: ###Error failed to create xml state\n", caller);
        return NULL;
    }
    fault = xmldata_load_input(state, file);
    if (fault != 0) {
        if (fault != XMLDATA_INPUT_UNOPENED)
            report_input_fault(caller, file, fault);
        console_log(0, "%s: ###Error failed to load %s xml file:%s\n", caller, role, show_str(file));
        if (fault == XMLDATA_INPUT_UNOPENED)
            report_input_fault(caller, file, fault);
        xml_fini(state);
        return NULL;
    }
    return state;
}

/* Why file cannot be opened for reading, as the system says, or NULL when
 * it now can. */
static const char *unopened_reason(const char *file)
{
    struct stat st;

    if (stat(file, &st) != 0 || access(file, R_OK) != 0)
        return strerror(errno);
    return NULL;
}

void report_unopened(const char *caller, const char *file, int err)
{
    const char *reason = err != 0 ? strerror(err) : unopened_reason(file);

    if (reason)
        console_log(0, "%s: ###Error %s: %s\n", caller, file, reason);
}

int expand_for_walk(XmlState *state)
{
    return xmldata_expand_markup_references(get_pDoc(state)) == 0 ? 0 : XMLDATA_INPUT_UNPARSED;
}

XmlState *load_walk_document(const char *caller, const char *file, const char *role)
{
    XmlState *state = load_input_document(caller, file, role);

    if (state && expand_for_walk(state) != 0) {
        console_log(0, "%s: ###Error failed to load %s xml file:%s\n", caller, role, show_str(file));
        xml_fini(state);
        return NULL;
    }
    return state;
}

void report_input_fault(const char *caller, const char *file, int fault)
{
    if (fault == XMLDATA_INPUT_UNOPENED && file)
        report_unopened(caller, file, 0);
    else if (fault == XMLDATA_INPUT_NOT_REGULAR)
        console_log(0, "%s: ###Error %s is not a regular file\n", caller, show_str(file));
    else if (fault == XMLDATA_INPUT_EXPANDS)
        console_log(0, "%s: ###Error entity references in %s expand to more than %d bytes\n", caller, show_str(file),
                    XMLDATA_EXPANSION_LIMIT);
}
