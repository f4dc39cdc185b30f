#include "CommandLine.h"

int main(int argc, char **argv)
{
    return sendova::server::runCommandLine(argc, argv);
}
