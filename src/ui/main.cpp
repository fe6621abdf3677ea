// quorvel-gui: the desktop face of Quorvel.
#include "ui/quorvel_app.h"

int main(int argc, char** argv) {
  quorvel::CQuorvelApp app(argc, argv);
  return app.InitInstance();
}
