#include "Startup.h"

int main(int argc, char** argv) {
    return runVelqora(argc, argv);
}
