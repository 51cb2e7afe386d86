// The peer of the start-up benchmark: the least a Qt program showing a web
// page needs, a QMainWindow with one QWebEngineView on a local page.
#include <QApplication>
#include <QMainWindow>
#include <QUrl>
#include <QWebEngineView>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  QMainWindow window;
  auto* view = new QWebEngineView(&window);
  view->load(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])));
  window.setCentralWidget(view);
  window.resize(1024, 768);
  window.show();
  return app.exec();
}
