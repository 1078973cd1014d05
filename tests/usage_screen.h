// The usage screen as tovik writes it, with bare line feeds.
#ifndef TOVIK_TESTS_USAGE_SCREEN_H
#define TOVIK_TESTS_USAGE_SCREEN_H

#include <string>

inline const std::string usage_screen = "\n"
                                        "******************************************\n"
                                        "* Tovik **** tovik-dev@example.org       *\n"
                                        "* stderr und stdout in Dateien umleiten **\n"
                                        "* Benutzung auf eigene Gefahr ************\n"
                                        "******************************************\n"
                                        "\n"
                                        "!!! Programmname fehlt oder zuviele Parameter !!!\n"
                                        "\n"
                                        "Aufruf: tovik programm\n"
                                        "oder    tovik \"programm parameter options ...\"\n"
                                        "\n"
                                        "Ausgaben von stderr werden in stderr.err\n"
                                        "und von stdout in stdout.err umgeleitet.\n"
                                        "\n";

#endif
