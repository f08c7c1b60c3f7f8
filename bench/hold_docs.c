/*
 * Benchmark baseline: parses the given XML files as the merge loads its
 * documents (whitespace kept, an XPath context each), holds them all, and
 * releases them.  Its peak memory is what holding the documents costs.
 */
#include <stdio.h>

#include <libxml/parser.h>
#include <libxml/xpath.h>

int main(int argc, char **argv)
{
    xmlDocPtr docs[8] = {0};
    xmlXPathContextPtr ctxts[8] = {0};
    int i;

    xmlInitParser();
    for (i = 1; i < argc && i < 9; i++) {
        docs[i - 1] = xmlReadFile(argv[i], NULL, 0);
        if (!docs[i - 1]) {
            fprintf(stderr, "cannot parse %s\n", argv[i]);
            return 1;
        }
        ctxts[i - 1] = xmlXPathNewContext(docs[i - 1]);
    }
    for (i = 0; i < 8; i++) {
        xmlXPathFreeContext(ctxts[i]);
        xmlFreeDoc(docs[i]);
    }
    xmlCleanupParser();
    return 0;
}
