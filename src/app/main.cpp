// Framelog: a web browser and a timed picture taker in one window.
#include "app/application.h"

int main(int argc, char *argv[])
{
    return framelog::runApplication(argc, argv);
}
