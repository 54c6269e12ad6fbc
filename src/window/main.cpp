#include "window/loader_app.h"

int main() {
  kelvo::LoaderApp app;
  app.InitInstance();
  return 0;
}
