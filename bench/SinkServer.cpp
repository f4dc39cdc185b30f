// A loopback HTTP server that reads every request body to the end without
// keeping it and answers with a successful upload reply. Prints its port,
// then serves until it is terminated.
#include "LoopbackHttpServer.h"

#include <cstdio>
#include <unistd.h>

int main()
{
    sendova::test::LoopbackHttpServer server;
    server.setKeepBodies(false);
    server.setDefaultReply(sendova::test::ScriptedReply::json(
        200, R"({"Success":true,"Data":{"Url":"http://127.0.0.1/f/x","ShortCode":"x","FileName":"f",)"
             R"("FileSize":0,"IsDuplicate":false}})"));
    std::printf("%u\n", unsigned(server.port()));
    std::fflush(stdout);
    for (;;)
        ::pause();
}
