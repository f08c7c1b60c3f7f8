/*
 * A device program using the installed document store: load a document from
 * memory, read a value and an attribute by XPath, ask for a missing node.
 * Exit status 0 when every step gave what it should.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <xmldata/xmldata.h>

static const char doc[] =
    "<config><wifi PRI=\"1\"><ssid>Home</ssid></wifi></config>";

int main(void)
{
    char buf[64];
    int failed = 0;
    XmlState *state = xml_init();

    if (state == NULL || xml_read_memory(state, doc) != 0) {
        fprintf(stderr, "consumer: cannot load the document\n");
        return 1;
    }
    if (xml_get_node_value(state, "/config/wifi/ssid", buf, sizeof(buf)) != 0 ||
        strcmp(buf, "Home") != 0) {
        fprintf(stderr, "consumer: wrong value\n");
        failed = 1;
    }
    if (xml_get_prop(state, "/config/wifi", "PRI", buf, sizeof(buf)) != 0 ||
        strcmp(buf, "1") != 0) {
        fprintf(stderr, "consumer: wrong attribute\n");
        failed = 1;
    }
    /* A query that finds nothing goes through the debug library. */
    if (xml_is_nodeset_exists(state, "/config/missing") == 0) {
        fprintf(stderr, "consumer: found a missing node\n");
        failed = 1;
    }
    xml_fini(state);
    return failed;
}
