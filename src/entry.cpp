#include "entry.h"

#include "host.h"

#include <stdio.h>

// Five lines of 42 characters; line 2 holds the contact address, padded with
// blanks to 28 characters.
static const char banner[] = "******************************************\n"
                             "* Tovik **** tovik-dev@example.org       *\n"
                             "* stderr und stdout in Dateien umleiten **\n"
                             "* Benutzung auf eigene Gefahr ************\n"
                             "******************************************\n";

static const char usage_text[] = "\n"
                                 "!!! Programmname fehlt oder zuviele Parameter !!!\n"
                                 "\n"
                                 "Aufruf: tovik programm\n"
                                 "oder    tovik \"programm parameter options ...\"\n"
                                 "\n"
                                 "Ausgaben von stderr werden in stderr.err\n"
                                 "und von stdout in stdout.err umgeleitet.\n"
                                 "\n";

static_assert(sizeof banner == 216, "five lines of 42 characters and a line feed each");
static_assert(sizeof usage_text == 207, "a usage text of 206 bytes");

void show_usage()
{
    fputs("\n", stdout);
    fputs(banner, stdout);
    fputs(usage_text, stdout);
}

int usage_exit_status(int argument_count)
{
    // Above the host's largest exit status, a count would wrap around: on
    // POSIX 256 arguments would read as 0, success, and 258 as 2.
    const int largest = largest_exit_status();
    return argument_count > largest ? largest : argument_count;
}
