// framelog-record: Framelog's picture record without a screen.
#include "record/record_application.h"

int main(int argc, char *argv[])
{
    return framelog::runRecorder(argc, argv);
}
