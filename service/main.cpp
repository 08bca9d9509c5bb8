#include "service/service_main.h"

int main(int argc, char** argv) { return tovik::service::ServiceMain::run(argc, argv); }
