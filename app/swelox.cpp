// Swelox: measures the visual noise of photographs of the sea.
#include "app/Application.h"
#include "app/Main.h"

int main(int argc, char** argv) {
  swelox::ui::Application application(argc, argv);
  TF window;
  window.show();
  return application.exec();
}
