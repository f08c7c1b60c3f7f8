/*
 * Occurrence counts behind the walk's positional indexes, and the test
 * whether a walked element has a counterpart in the compared document.
 *
 * A count key is a path whose last step carries no index yet, so every
 * parent instance (its own index is in the key) counts its children anew,
 * and siblings with different attribute predicates count separately.
 */
#include "walk.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <libxml/xpath.h>

#include "../cli/console.h"

#include "../common/banned.h"

std::unordered_map<std::string, int> mapXpath;
std::unordered_map<std::string, int> mapNXpath;
std::map<std::string, std::string> mapAttr;
std::map<std::string, std::string> mapAttrNs;

int append_xpath_step(const char *step, char *path)
{
    size_t len = strlen(path);
    const char *s = show_str(step);
    size_t n = strlen(s);

    /* Leaves room for the index that find_and_add_xpath_to_map adds. */
    if (len + 1 + n >= XPATH_BUF_SIZE - 1)
        return -1;
    path[len] = '/';
    memcpy(path + len + 1, s, n + 1);
    return 0;
}

/* Appends "[k]" (k > 0) to path, a buffer of XPATH_BUF_SIZE: 0, or -1 with
 * path unchanged when it does not fit. */
static int append_position(char *path, int k)
{
    char digits[16];
    size_t n = 0;
    size_t len = strlen(path);
    unsigned v = (unsigned)k;

    do {
        digits[n++] = (char)('0' + v % 10);
        v /= 10;
    } while (v && n < sizeof(digits));
    if (len + n + 2 >= XPATH_BUF_SIZE)
        return -1;
    path[len++] = '[';
    while (n)
        path[len++] = digits[--n];
    path[len++] = ']';
    path[len] = '\0';
    return 0;
}

/* The attributes of an element that count for its step. */
#define COUNTED_ATTRS "@*[name()!='PRI']"

/*
 * The closing bracket of the attribute predicate that starts at p ("[@"),
 * with the number of attribute tests in it ('@' outside literals); NULL
 * when it does not close, or when it tests any attribute (@*) already and
 * so is no predicate of the walk's.
 */
static const char *attr_predicate_end(const char *p, int *tests)
{
    int depth = 0;

    *tests = 0;
    for (;;) {
        p += strcspn(p, "[]'\"@");
        switch (*p) {
        case '\0':
            return NULL;
        case '[':
            depth++;
            break;
        case ']':
            if (--depth == 0)
                return p;
            break;
        case '@':
            if (p[1] == '*')
                return NULL;
            ++*tests;
            break;
        default:
            p = strchr(p + 1, *p);
            if (!p)
                return NULL;
            break;
        }
        p++;
    }
}

/* The length of the predicate [namespace-uri()='U'] (or "U") that p
 * starts with, or 0. */
static size_t namespace_predicate_len(const char *p)
{
    static const char open[] = "[namespace-uri()=";
    const char *close;

    if (strncmp(p, open, sizeof(open) - 1) != 0)
        return 0;
    p += sizeof(open) - 1;
    if (*p != '\'' && *p != '"')
        return 0;
    close = strchr(p + 1, *p);
    if (!close || close[1] != ']')
        return 0;
    return (size_t)(close + 2 - (p - (sizeof(open) - 1)));
}

/* 1 when [p, end) is empty or one positive position "[k]". */
static int position_or_nothing(const char *p, const char *end)
{
    const char *d;

    if (p == end)
        return 1;
    if (*p != '[' || end - p < 3 || end[-1] != ']')
        return 0;
    for (d = p + 1; d < end - 1; d++) {
        if (*d < '0' || *d > '9')
            return 0;
    }
    return 1;
}

/* Appends len bytes of text to buf at *used, bounded by LOOKUP_BUF_SIZE;
 * *fits is cleared when they do not fit. */
static void lookup_append(char *buf, size_t *used, const char *text, size_t len, int *fits)
{
    if (!*fits || *used + len >= LOOKUP_BUF_SIZE) {
        *fits = 0;
        return;
    }
    memcpy(buf + *used, text, len);
    *used += len;
    buf[*used] = '\0';
}

/*
 * Appends the lookup form of the step [p, end) (p at its '/') to buf;
 * first: the root's step, which stays as it is.  1 when the same step with
 * a position after it would read as this form with the position after it.
 */
static int rewrite_step(const char *path, const char *p, const char *end, int first, char *buf, size_t *used,
                        int *fits)
{
    static const char bare[] = "[not(" COUNTED_ATTRS ")]";
    static const char count[] = " and count(" COUNTED_ATTRS ")=";
    const char *step = p + 1;
    const char *rest = step;
    const char *close = NULL;
    int tests = 0;

    /* An entry of a declared list is known by its key, whatever else it
     * carries. */
    if (!first && walk_step_is_keyed(path, p, end)) {
        lookup_append(buf, used, p, (size_t)(end - p), fits);
        return 0;
    }
    while (rest < end && *rest != '[')
        rest++;
    /* A step that names its element's namespace keeps that predicate
     * with its name. */
    if (rest < end && rest[0] == '[' && rest[1] == 'n') {
        size_t ns_len = namespace_predicate_len(rest);

        if (ns_len > 0 && rest + ns_len <= end)
            rest += ns_len;
    }
    if (!first && rest[0] == '[' && rest[1] == '@')
        close = attr_predicate_end(rest, &tests);
    if (close && close < end && position_or_nothing(close + 1, end)) {
        char digits[16];
        size_t n = sizeof(digits);

        /* The count's digits, from the last one back. */
        do {
            digits[--n] = (char)('0' + tests % 10);
            tests /= 10;
        } while (tests > 0 && n > 0);
        lookup_append(buf, used, p, (size_t)(close - p), fits);
        lookup_append(buf, used, count, sizeof(count) - 1, fits);
        lookup_append(buf, used, digits + n, sizeof(digits) - n, fits);
        lookup_append(buf, used, close, (size_t)(end - close), fits);
        return close + 1 == end;
    }
    if (!first && rest > step && position_or_nothing(rest, end)) {
        lookup_append(buf, used, p, (size_t)(rest - p), fits);
        lookup_append(buf, used, bare, sizeof(bare) - 1, fits);
        lookup_append(buf, used, rest, (size_t)(end - rest), fits);
        return rest == end;
    }
    lookup_append(buf, used, p, (size_t)(end - p), fits);
    return first;
}

/*
 * The last path rewritten, with where each of its steps ends in it and in
 * its lookup form.  The walk's paths of one parent share all steps but the
 * last, and a leaf's path is the one its element start asked for with a
 * position added, so mostly only a last step is rewritten anew.
 */
#define LOOKUP_MAX_STEPS (XPATH_BUF_SIZE / 2)
static struct {
    char path[XPATH_BUF_SIZE];
    char lookup[LOOKUP_BUF_SIZE];
    size_t path_end[LOOKUP_MAX_STEPS];
    size_t lookup_end[LOOKUP_MAX_STEPS];
    size_t len;
    int steps;
    int fits;
    int whole;                  /* every step fitted the step table */
    int open;                   /* a position after the path goes after its form */
} last_lookup;

const char *lookup_path(const char *path, char *buf)
{
    size_t len;
    size_t same = 0;
    size_t used = 0;
    int kept = 0;
    const char *p;

    if (!path || path[0] != '/')
        return path;
    if (last_lookup.fits && strcmp(path, last_lookup.path) == 0)
        goto done;   /* several look-ups of one leaf in a row */
    len = strlen(path);
    if (len >= sizeof(last_lookup.path))
        return path;   /* longer than any path of the walk */
    if (last_lookup.fits && last_lookup.whole && last_lookup.open && last_lookup.steps > 0 &&
        len > last_lookup.len && memcmp(path, last_lookup.path, last_lookup.len) == 0 &&
        position_or_nothing(path + last_lookup.len, path + len)) {
        /* The same path with a position after its last step. */
        used = last_lookup.lookup_end[last_lookup.steps - 1];
        lookup_append(last_lookup.lookup, &used, path + last_lookup.len, len - last_lookup.len, &last_lookup.fits);
        memcpy(last_lookup.path + last_lookup.len, path + last_lookup.len, len - last_lookup.len + 1);
        last_lookup.path_end[last_lookup.steps - 1] = len;
        last_lookup.lookup_end[last_lookup.steps - 1] = used;
        last_lookup.len = len;
        last_lookup.open = 0;
        goto done;
    }
    /* The leading steps that are the same, up to a step end of both. */
    while (kept < last_lookup.steps && last_lookup.path_end[kept] <= len &&
           (path[last_lookup.path_end[kept]] == '/' || path[last_lookup.path_end[kept]] == '\0') &&
           memcmp(path + same, last_lookup.path + same, last_lookup.path_end[kept] - same) == 0)
        same = last_lookup.path_end[kept++];
    if (kept > 0 && !last_lookup.fits)
        kept = 0;
    if (kept > 0)
        used = last_lookup.lookup_end[kept - 1];
    last_lookup.fits = 1;
    last_lookup.steps = kept;
    last_lookup.open = 0;
    p = path + (kept > 0 ? last_lookup.path_end[kept - 1] : 0);
    while (*p == '/' && last_lookup.steps < LOOKUP_MAX_STEPS) {
        const char *end = p + 1 + xml_path_step_len(p + 1);

        last_lookup.open = rewrite_step(path, p, end, p == path, last_lookup.lookup, &used, &last_lookup.fits);
        last_lookup.path_end[last_lookup.steps] = (size_t)(end - path);
        last_lookup.lookup_end[last_lookup.steps] = used;
        last_lookup.steps++;
        p = end;
    }
    memcpy(last_lookup.path, path, len + 1);
    last_lookup.len = len;
    last_lookup.lookup[used] = '\0';
    last_lookup.whole = *p == '\0';
done:
    used = last_lookup.steps > 0 ? last_lookup.lookup_end[last_lookup.steps - 1] : 0;
    /* Rewriting only adds: the same length is the same path. */
    if (!last_lookup.whole || !last_lookup.fits || used == last_lookup.len)
        return path;
    memcpy(buf, last_lookup.lookup, used + 1);
    return buf;
}

void add_to_map(const char *path)
{
    int &count = mapXpath[show_str(path)];

    console_log(2, "%s: Before Xpath index: %d\n", __func__, count);
    count++;
    console_log(2, "%s: Xpath index: %d, xpath:%s\n", __func__, count, show_str(path));
}

int increment_xpath_index(char *path, int record)
{
    char copy[XPATH_BUF_SIZE];
    char raised[XPATH_BUF_SIZE];
    unsigned long long k;
    int written;
    size_t len;
    size_t i;

    snprintf(copy, sizeof(copy), "%s", path);
    len = strlen(copy);
    if (len == 0 || copy[len - 1] != ']')
        return -1;
    /* Back over the digits to the "[" that opens the trailing index. */
    i = len - 1;
    for (;;) {
        if (i == 0)
            return -1;
        i--;
        if (copy[i] == '[') {
            if (i == 0)
                return -1;
            break;
        }
        if (copy[i] < '0' || copy[i] > '9')
            return -1;
    }
    copy[len - 1] = '\0';
    k = strtoull(copy + i + 1, NULL, 10);
    copy[i] = '\0';
    /* A raised index that does not fit leaves the path as it was. */
    written = snprintf(raised, sizeof(raised), "%s[%llu]", copy, k + 1);
    if (written < 0 || written >= (int)sizeof(raised))
        return -2;
    memcpy(path, raised, (size_t)written + 1);
    if (record)
        add_to_map(copy);
    return 0;
}

/* Whether the walked element has attribute a: a name of mapAttr without
 * a namespace, or, for a in a namespace, one with a's local name and
 * namespace whatever its prefix. */
static int walked_has(xmlAttrPtr a)
{
    if (!a->ns)
        return mapAttr.count(show_str(reinterpret_cast<const char *>(a->name))) > 0 &&
               mapAttrNs.count(show_str(reinterpret_cast<const char *>(a->name))) == 0;
    for (const auto &walked : mapAttrNs) {
        const char *local = strchr(walked.first.c_str(), ':');

        if (local && strcmp(local + 1, reinterpret_cast<const char *>(a->name)) == 0 &&
            a->ns->href && walked.second == reinterpret_cast<const char *>(a->ns->href))
            return 1;
    }
    return 0;
}

int match_node_attributes(xmlAttrPtr pAttr)
{
    int attr_count = 0;
    int attr_match_count = 0;
    int listed = 0;
    xmlAttrPtr a;

    for (a = pAttr; a; a = a->next) {
        if (xmlStrcmp(a->name, BAD_CAST "PRI") != 0)
            listed++;
    }
    if (listed == 0 && mapAttr.empty()) {
        console_log(2, "%s: No attributes for this node\n", __func__);
        return 0;
    }
    if (listed == 0 || mapAttr.empty()) {
        console_log(0, "%s: Attributes mismatch pAttr:%p, mapAttr.size:%d\n", __func__,
                    static_cast<void *>(pAttr), static_cast<int>(mapAttr.size()));
        return -1;
    }
    for (a = pAttr; a; a = a->next) {
        const char *name = show_str(reinterpret_cast<const char *>(a->name));

        if (strcmp(name, "PRI") == 0) {
            console_log(0, "%s: Found PRI attribute skip\n", __func__);
            continue;
        }
        attr_count++;
        if (walked_has(a)) {
            console_log(0, "%s: Found attribute:%s\n", __func__, name);
            attr_match_count++;
        }
        if (attr_count != attr_match_count) {
            console_log(0, "%s: Attribute mis-match:%s\n", __func__, name);
            return -1;
        }
    }
    console_log(0, "%s: Attributes matched: attr_match_count:%d, attr_count:%d)\n", __func__, attr_match_count,
                attr_count);
    return 0;
}

/* The attributes of node, when it is an element. */
static xmlAttrPtr element_attributes(xmlNodePtr node)
{
    return (node && node->type == XML_ELEMENT_NODE) ? node->properties : NULL;
}

/*
 * The first node xpath could answer with, at position start, asked alone:
 * a long list of siblings with the same step is then not gathered whole
 * for every element of the walk.  0 when it matches, 1 when it does not
 * (the search goes on after it), -1 when there is none or xpath cannot be
 * evaluated, 2 when the whole set must be asked.  Only below level 2,
 * where the size of the whole set is not traced.
 */
static int first_candidate(XmlState *state, const char *xpath, const char *expr, int start)
{
    char path[LOOKUP_BUF_SIZE + 16];
    xmlXPathObjectPtr res;
    int rc = -1;
    int written = snprintf(path, sizeof(path), "%s[%d]", expr, start + 1);

    if (written < 0 || written >= (int)sizeof(path))
        return 2;
    res = xml_eval_xpath(state, path);
    if (!res) {
        /* The library has said why; it would only say so again. */
        console_log(0, "%s: ###Error: unable to evaluate xpath expression \"%s\"\n", "xpath_compare_attr", xpath);
        return -1;
    }
    if (res->nodesetval && res->nodesetval->nodeNr == 1)
        rc = match_node_attributes(element_attributes(res->nodesetval->nodeTab[0])) == 0 ? 0 : 1;
    else if (res->nodesetval && res->nodesetval->nodeNr > 1)
        rc = 2;
    xmlXPathFreeObject(res);
    return rc;
}

/* Whether xpath has one step only: it selects the root element. */
static int is_root_path(const char *xpath)
{
    return walk_parent_len(xpath) <= 0;
}

/* Whether xpath's last step is an entry's keyed step. */
static int last_step_keyed(const char *xpath)
{
    int cut = walk_lists() ? walk_parent_len(xpath) : -1;

    return cut > 0 && walk_step_is_keyed(xpath, xpath + cut, xpath + strlen(xpath));
}

int xpath_compare_attr(XmlState *state, const char *xpath, int start)
{
    char look[LOOKUP_BUF_SIZE];
    const char *expr = lookup_path(xpath, look);
    xmlXPathObjectPtr res = NULL;
    xmlNodeSetPtr set;
    int rc = -1;
    int i;

    if (start < 0)
        start = 0;
    /* The walk's paths select at most one parent per step, so the node at
     * position start of the whole set is the one asked for alone.  (From
     * position 0 the path is one that ends in a position already, or the
     * first of its siblings.) */
    if (start > 0 && verbose_level < 2 && xml_is_loaded(state) && xpath) {
        int first = first_candidate(state, xpath, expr, start);

        if (first == 0 || first == -1)
            return first;
        if (first == 1)
            start++;
    }
    if (xml_is_loaded(state) && xpath)
        res = xml_eval_xpath(state, expr);
    if (!res) {
        console_log(0, "%s: ###Error: unable to evaluate xpath expression \"%s\"\n", __func__, show_str(xpath));
        return -1;
    }
    set = res->nodesetval;
    if (!set || !set->nodeTab) {
        console_log(2, "%s: Nodeset not found:%s\n", __func__, xpath);
        goto out;
    }
    console_log(2, "%s: pNodeSet->nodeNr=%d\n", __func__, set->nodeNr);
    /* The root is matched by its name alone, an entry of a declared list
     * by its key; their other attributes are settings. */
    if (start < set->nodeNr && (is_root_path(xpath) || last_step_keyed(xpath)))
        rc = 0;
    for (i = start; rc != 0 && i < set->nodeNr; i++) {
        if (match_node_attributes(element_attributes(set->nodeTab[i])) == 0) {
            rc = 0;
            break;
        }
    }
    if (rc == 0)
        console_log(2, "%s: Matching node found:%s\n", __func__, xpath);
    else
        console_log(2, "%s: Matching node not found:%s\n", __func__, xpath);
out:
    xmlXPathFreeObject(res);
    return rc;
}

/* The key of a look-up in the path maps, kept so that its room is made
 * once and not for every element. */
static std::string path_key;

int find_and_add_xpath_to_map(char *step, char *Xpath, char *nXpath, XmlState *nDoc, const xmlChar *tag)
{
    const char *name = show_str(reinterpret_cast<const char *>(tag));
    size_t parent_len = strlen(Xpath);
    int prior = 0;
    int *seen = NULL;
    int count;
    int fits;

    /* The indexed path must fit whole, or the walk would go on with a path
     * that names another element: the parent, or a cut step. */
    fits = append_xpath_step(step, Xpath) == 0;
    if (fits) {
        /* Earlier siblings under this parent instance with the same step. */
        path_key.assign(Xpath);
        seen = &mapXpath[path_key];
        prior = *seen;
        fits = append_position(Xpath, prior + 1) == 0;
        /* Indexed below, once the step is compared. */
        Xpath[parent_len + 1 + strlen(step)] = '\0';
    }
    if (!fits) {
        console_log(0, "%s: ###Error the step of element %s does not fit after a path of %d bytes\n", __func__, name,
                    (int)parent_len);
        Xpath[parent_len] = '\0';
        return -1;
    }
    count = prior + 1;
    /* Without a document to compare with, the walk only builds paths. */
    if (nDoc && xpath_compare_attr(nDoc, Xpath, prior) != 0) {
        console_log(0, "%s: Node doesn't match\n", __func__);
        snprintf(step, XPATH_BUF_SIZE, "%s[@node_deleted='1']", name);
    }
    /* nXpath is only shown, never evaluated: a step that does not fit
     * there is left out. */
    append_xpath_step(step, nXpath);
    console_log(2, "%s: Before Xpath: %s\n", __func__, Xpath);
    console_log(2, "%s: Before nXpath: %s\n", __func__, nXpath);

    *seen = count;
    append_position(Xpath, count);

    path_key.assign(nXpath);
    auto it = mapNXpath.find(path_key);
    if (it == mapNXpath.end()) {
        mapNXpath.emplace(path_key, 1);
    } else {
        it->second++;
        /* nXpath is only shown: an index that does not fit is cut. */
        if (append_position(nXpath, it->second) != 0) {
            snprintf(step, XPATH_BUF_SIZE, "%s[%d]", nXpath, it->second);
            snprintf(nXpath, XPATH_BUF_SIZE, "%s", step);
        }
    }
    console_log(2, "%s: Xpath after index: %s\n", __func__, Xpath);
    console_log(2, "%s: nXpath after index: %s\n", __func__, nXpath);
    return 0;
}
