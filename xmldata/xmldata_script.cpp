/*
 * Document store: file maintenance handed to the device's XML maintenance
 * script.  Each operation runs one command line through the shell and
 * passes the script's status back; the work itself is the script's.  The
 * arguments go in unquoted, so only plain names are accepted, none that
 * the script would take for an option, and none that would make the line
 * longer than it may be: a line cut short would run with other arguments.
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

/* Room for one command line, terminator included: longer lines are refused. */
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
 * argument is missing, not a plain name, begins with '-' or makes the line
 * longer than SCRIPT_CMD_SIZE - 1 characters (nothing runs; an argument
 * that is refused has a record), otherwise what system() gives: 0, the
 * wait status (exit code times 256), or -1 when no shell could be started.
 */
static int run_script(const char *subcommand, const char *arg1, const char *arg2)
{
    char cmd[SCRIPT_CMD_SIZE];
    int len;

    if (!arg1 || !arg2)
        return -1;
    if (!is_plain_name(arg1) || !is_plain_name(arg2)) {
        XMLDATA_RECORD("[%s]:[%s] - Refusing to run %s: arguments must be plain names, not \"%s\" \"%s\"", subcommand,
                       arg1, arg2);
        return -1;
    }
    if (arg1[0] == '-' || arg2[0] == '-') {
        XMLDATA_RECORD("[%s]:[%s] - argument begins with '-', refused:%s", arg1[0] == '-' ? arg1 : arg2);
        return -1;
    }
    memset(cmd, 0, sizeof(cmd));
    len = snprintf(cmd, sizeof(cmd), "%s %s %s %s", QARN_XML_SCRIPT, subcommand, arg1, arg2);
    if (len < 0 || (size_t)len >= sizeof(cmd)) {
        /* The argument that does not fit: the first, when the line is too
         * long already with it. */
        size_t head = strlen(QARN_XML_SCRIPT) + 1 + strlen(subcommand) + 1 + strlen(arg1);

        XMLDATA_RECORD("[%s]:[%s] - command line too long, refused:%s", head >= sizeof(cmd) ? arg1 : arg2);
        return -1;
    }
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
