// Another copy of the tool, as far as the instance lock goes: instance_lock_probe <lock file>. Prints
// "locked" and holds the lock until its standard input ends or reads "quit"; or prints "refused: <holder>"
// and exits 1.
#include "Utility/InstanceLock.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (application.arguments().size() != 2) {
        std::fprintf(stderr, "usage: instance_lock_probe <lock file>\n");
        return 2;
    }
    InstanceLock lock(application.arguments().at(1));
    QString holder;
    if (!lock.TryLock(holder)) {
        std::printf("refused: %s\n", holder.toUtf8().constData());
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line) && line != "quit") {
    }
    return 0;
}
