// Process entry point of the dotforge CUPS filter.
#include "filter/cupsinstance.h"

int main(int argc, char** argv) {
    CCupsInstance instance;
    return instance.Run(argc, argv);
}
