#include "server/service_main.h"

int main(int argc, char** argv) { return tovik::server::ServiceMain::run(argc, argv); }
