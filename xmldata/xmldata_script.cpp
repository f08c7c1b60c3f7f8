/*
 * Document store: file maintenance handed to the device's XML maintenance
 * script.  Each operation runs one command line through the shell and
 * passes the script's status back; the work itself is the script's.  The
 * arguments go in unquoted, so only plain names are accepted.
 */
#include "xmldata.h"
#include "xmldata_log.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../common/banned.h"

/* Set at configure time (CMake cache variable QARN_XML_SCRIPT). */
#ifndef QARN_XML_SCRIPT
#define QARN_XML_SCRIPT "/opt/qarn/bin/qarn_xml.sh"
#endif

/* Room for one command line, terminator included: longer lines are cut. */
#define SCRIPT_CMD_SIZE 256

/*
 * 1 when arg is a name the shell passes on as one word, unchanged: not
 * empty, and only letters, digits and "/._-+,:@=".  Anything else (blanks,
 * quotes, ';', '$', '`', globbing characters) could make the shell run
 * something other than the script.
 */
static int is_plain_name(const char *arg)
{
    const char *c;

    if (arg[0] == '\0')
        return 0;
    for (c = arg; *c; c++) {
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') ||
              strchr("/._-+,:@=", *c)))
            return 0;
    }
    return 1;
}

/*
 * Runs "QARN_XML_SCRIPT subcommand arg1 arg2".  Result: -1 when an
 * argument is missing or not a plain name (nothing runs; a name that is
 * refused has a record), otherwise what system() gives: 0, the wait status
 * (exit code times 256), or -1 when no shell could be started.
 */
static int run_script(const char *subcommand, const char *arg1, const char *arg2)
{
    char cmd[SCRIPT_CMD_SIZE];

    if (!arg1 || !arg2)
        return -1;
    if (!is_plain_name(arg1) || !is_plain_name(arg2)) {
        XMLDATA_RECORD("[%s]:[%s] - Refusing to run %s: arguments must be plain names, not \"%s\" \"%s\"", subcommand,
                       arg1, arg2);
        return -1;
    }
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "%s %s %s %s", QARN_XML_SCRIPT, subcommand, arg1, arg2);
    return system(cmd);
}

extern "C" int xml_validate_file(const char *arg1, const char *arg2)
{
    return run_script("validate_xml", arg1, arg2);
}

extern "C" int xml_backup_file(const char *arg1, const char *arg2)
{
    return run_script("backup_xml", arg1, arg2);
}

extern "C" int xml_calculate_checksum_file(const char *arg1, const char *arg2)
{
    return run_script("calculate_checksum", arg1, arg2);
}
