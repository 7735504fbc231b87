#include "timelapse/timelapse_application.h"

int main(int argc, char *argv[])
{
    return framelog::runTimelapse(argc, argv);
}
