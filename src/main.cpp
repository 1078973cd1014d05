#include "capture.h"
#include "entry.h"

int main(int argc, char **argv)
{
    if (argc == 2)
        return run_captured(argv[1]);
    show_usage();
    return usage_exit_status(argc);
}
