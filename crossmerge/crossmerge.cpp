/* Placeholder until the cross merge is built. */
#include "crossmerge.h"

#include "../cli/console.h"

#include "../common/banned.h"

int xml_cross_merge(const char *src_file, const char *new_file, const char *cross_merge_file, const char *dest_file)
{
    (void)src_file;
    (void)new_file;
    (void)cross_merge_file;
    (void)dest_file;
    console_log(0, "%s: ###Error the Selective-Cross-Merge mode is not built yet\n", __func__);
    return 1;
}
