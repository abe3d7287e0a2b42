// The yardstick for dervix's start-up: a bare Qt Widgets program with a menu
// bar and a 23 x 5 table. It writes the CHECK frame to the line named on its
// command line at the point where dervix sends its own (window built, not
// yet shown), so scripts/measure-startup.py can time both the same way.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QTableWidget>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: bench_bare_startup DEVICE\n");
        return 2;
    }
    QApplication app(argc, argv);
    QMainWindow window;
    QMenu* edit = window.menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->addAction(QStringLiteral("&Configuration"));
    edit->addAction(QStringLiteral("E&xit"));
    window.menuBar()->addMenu(QStringLiteral("&Help"))->addAction(QStringLiteral("&About"));
    auto* table = new QTableWidget(23, 5, &window);
    for (int row = 0; row < 23; ++row)
        for (int column = 0; column < 5; ++column)
            table->setItem(row, column, new QTableWidgetItem(QString::number(row * 5 + column)));
    window.setCentralWidget(table);

    const int line = ::open(argv[1], O_RDWR | O_NOCTTY);
    if (line < 0 || ::write(line, "G1%\r\n", 5) != 5) {
        std::perror(argv[1]);
        return 1;
    }
    window.show();
    return app.exec();
}
