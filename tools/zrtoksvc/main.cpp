#include "app.h"

int main(int argc, char** argv) { return zrsvc::RunZrTokSvc(argc, argv); }
