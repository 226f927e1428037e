// zarumatekit: the program. Everything it does starts from its window.

#include "app/start_up.h"

int main(int argc, char** argv)
{
    return zk::RunZarumatekit(argc, argv);
}
