/*
 * The root element's attributes as settings.  The walk matches the root by
 * its name alone, so a release that changes an attribute of the root (a
 * version, say) no longer makes every setting below it a stranger; the
 * attributes themselves are decided one by one, with N as the base, as a
 * leaf's value is:
 *
 *   O      N       D      result
 *   x      x       y      y: the user's change (also y absent: deleted)
 *   x      y       x      y: the release's change
 *   x      y       z      z: both changed, the user's (--conflicts applies)
 *   x      y       -      y: the release changed what the user deleted
 *   x      -       any    none: the release removed it
 *   -      -       y      y: the user's own, dropped with -p
 *   -      y       any    D's value when D has one, else y
 *
 * A PRI beginning with 1 on N's root keeps N's attributes exactly.  PRI
 * itself stays as N has it; namespace declarations are no attributes.  A
 * prefixed attribute is known by its name as written; set on N's root, it
 * takes the binding of its prefix there, or D's declaration of it.
 */
#include "merge.h"

#include <stdio.h>
#include <string.h>

#include "../cli/console.h"
#include "../walk/keys.h"
#include "../walk/walk.h"
#include "tally.h"

#include "../common/banned.h"

/* Whether two values (NULL for none) are the same; none and "" differ. */
static int same_attribute(const xmlChar *a, const xmlChar *b)
{
    if (!a || !b)
        return a == b;
    return xmlStrcmp(a, b) == 0;
}

static const char *text(const xmlChar *s)
{
    return show_str(reinterpret_cast<const char *>(s));
}

/* Whether N's root carries a PRI beginning with 1. */
static int pri_forces(xmlNodePtr root)
{
    xmlChar *pri = attribute_value(root, "PRI");
    int forced = pri && pri[0] == '1';

    xmlFree(pri);
    return forced;
}

/* The kind of decision for O's, N's and D's values (D differing from N),
 * and whether D's value goes into N. */
static enum MergeDecision decide(const xmlChar *o, const xmlChar *n, const xmlChar *d, int *take_d)
{
    *take_d = 0;
    if (o && !n)
        return same_attribute(o, d) ? MERGE_RELEASE_REMOVED : MERGE_LOST_WITH_ELEMENT;
    if (!o && !n) {
        *take_d = keep_local_tags;
        return keep_local_tags ? MERGE_LOCAL_KEPT : MERGE_LOCAL_DROPPED;
    }
    /* N has it.  D without it: deleted by the user, unless the release
     * changed it (then N's value is what the user never saw). */
    if (!d) {
        *take_d = same_attribute(o, n);
        return *take_d ? MERGE_USER_KEPT : MERGE_RELEASE_TAKEN;
    }
    if (o && same_attribute(o, d))
        return MERGE_RELEASE_TAKEN;
    *take_d = 1;
    return o && same_attribute(o, n) ? MERGE_USER_KEPT : MERGE_BOTH_CHANGED;
}

/* The namespace of the attribute written name on N's root: NULL for an
 * unprefixed name; N's binding of the prefix, or a copy of D's declared
 * on N's root.  0, or -1 when there is none. */
static int attribute_ns(xmlNodePtr n_root, xmlNodePtr d_root, const char *name, xmlNsPtr *ns, const char **local)
{
    const char *colon = strchr(name, ':');
    char prefix[XPATH_BUF_SIZE];
    xmlNsPtr d_ns;

    *ns = NULL;
    *local = name;
    if (!colon)
        return 0;
    snprintf(prefix, sizeof(prefix), "%.*s", (int)(colon - name), name);
    *local = colon + 1;
    *ns = xmlSearchNs(n_root->doc, n_root, BAD_CAST prefix);
    if (*ns)
        return 0;
    d_ns = d_root ? xmlSearchNs(d_root->doc, d_root, BAD_CAST prefix) : NULL;
    if (d_ns)
        *ns = xmlNewNs(n_root, d_ns->href, d_ns->prefix);
    return *ns ? 0 : -1;
}

/* Decides one attribute (name, at path) of N's root.  0, or 1 when N's
 * root could not be changed. */
static int merge_root_attribute(XmlState *nDoc, xmlNodePtr n_root, xmlNodePtr o_root, xmlNodePtr d_root,
                                const char *name, const char *path, int pri_set)
{
    xmlChar *o = attribute_value(o_root, name);
    xmlChar *n = attribute_value(n_root, name);
    xmlChar *d = attribute_value(d_root, name);
    enum MergeDecision kind = MERGE_NO_DECISION;
    int take_d = 0;
    int result = 0;

    if (same_attribute(d, n)) {
        /* D agrees with N: nothing to decide. */
    } else if (pri_set) {
        kind = MERGE_FORCED;
        console_log(1, "%s:++++Rule 1-5:PRI Attr set--Keep N(xpath=%s)\n", __func__, path);
    } else {
        kind = decide(o, n, d, &take_d);
        if (kind == MERGE_BOTH_CHANGED && merge_conflicts == MERGE_CONFLICTS_RELEASE) {
            take_d = 0;
            console_log(0, "%s:++++Rule 2-6:O!=D PRI:%d)--Keep N(Both changed)(Xpath=%s); value(O=%s; N=%s; D=%s)\n",
                        __func__, pri_set, path, text(o), text(n), text(d));
        } else if (kind == MERGE_LOCAL_KEPT) {
            console_log(0, "%s:++++Local tag found in D (Xpath=%s)\n", __func__, path);
        } else if (take_d) {
            console_log(0,
                        "%s:++++Rule 2-6:O!=D PRI:%d)--Copy D to N(User change)(Xpath=%s); value(O=%s; D=%s), rc:%d\n",
                        __func__, pri_set, path, text(o), text(d), o && o[0] ? 0 : -1);
        }
        if (merge_conflicts == MERGE_CONFLICTS_FAIL && (kind == MERGE_BOTH_CHANGED || kind == MERGE_LOST_WITH_ELEMENT)) {
            console_log(0, "%s: ###Error both changed (Xpath=%s) value(O=%s; N=%s; D=%s)\n", __func__, path, text(o),
                        text(n), text(d));
            merge_refuse_setting();
        }
    }
    /* D's attributes are counted as settings as the walk reads them; one
     * decided that D lacks is a setting too. */
    if (!d && kind != MERGE_NO_DECISION)
        merge_tally_settings(1);
    merge_tally_values(path, reinterpret_cast<const char *>(o), reinterpret_cast<const char *>(n),
                       reinterpret_cast<const char *>(d));
    merge_tally(kind);

    xmlNsPtr ns = NULL;
    const char *local = name;

    if (take_d && attribute_ns(n_root, d_root, name, &ns, &local) != 0) {
        console_log(0, "%s: ###Error cannot set %s\n", __func__, path);
        result = 1;
    } else if (take_d && d && xml_set_attribute_of(nDoc, n_root, ns, local, d) != 0) {
        console_log(0, "%s: ###Error cannot set %s\n", __func__, path);
        result = 1;
    } else if (take_d && !d && xml_set_attribute_of(nDoc, n_root, ns, local, NULL) != 0) {
        console_log(0, "%s: ###Error cannot remove %s\n", __func__, path);
        result = 1;
    }
    xmlFree(o);
    xmlFree(n);
    xmlFree(d);
    return result;
}

int merge_element_attributes(XmlState *nDoc, const char *Xpath, xmlNodePtr n_node, xmlNodePtr o_node,
                             xmlNodePtr d_node, const KeyList *list)
{
    char name[XPATH_BUF_SIZE];
    char after[XPATH_BUF_SIZE];
    char path[XPATH_BUF_SIZE];
    int pri_set;

    if (!d_node || !n_node)
        return 0;
    pri_set = pri_forces(n_node);
    name[0] = '\0';
    for (;;) {
        int len;

        memcpy(after, name, strlen(name) + 1);
        name[0] = '\0';
        attribute_name_after(d_node, 1, after, name, sizeof(name));
        attribute_name_after(n_node, 1, after, name, sizeof(name));
        attribute_name_after(o_node, 1, after, name, sizeof(name));
        if (name[0] == '\0')
            return 0;
        if (keys_is_key_attribute(list, name))
            continue;
        len = snprintf(path, sizeof(path), "%s/@%s", Xpath, name);
        if (len < 0 || (size_t)len >= sizeof(path)) {
            console_log(0, "%s: ###Error the path of attribute %s does not fit after %s\n",
                        /* named by the caller, which reads the element */
                        list ? "merge_entry" : "merge_root_attributes",
                        name, Xpath);
            return 1;
        }
        if (merge_root_attribute(nDoc, n_node, o_node, d_node, name, path, pri_set) != 0)
            return 1;
    }
}

int merge_root_attributes(XmlState *nDoc, XmlState *oDoc, const char *Xpath, xmlTextReaderPtr reader)
{
    /* N's and O's roots, when they have D's root's name; a D whose root N
     * does not have is a local tag as a whole. */
    return merge_element_attributes(nDoc, Xpath, first_selected(nDoc, Xpath), first_selected(oDoc, Xpath),
                                    xmlTextReaderCurrentNode(reader), NULL);
}
