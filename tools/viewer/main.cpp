// halvora-viewer: the technician's command-line test client.
#include <iostream>

#include "uViewer.h"

int main(int argc, char** argv) {
  using namespace halvora::viewer;
  const std::vector<std::string> Args(argv + 1, argv + argc);
  if (Args.size() == 1 && (Args[0] == "--help" || Args[0] == "-h")) {
    std::cout << UsageText();
    return ecDone;
  }
  TViewerOptions Options;
  std::string Error;
  if (!ParseOptions(Args, Options, Error)) {
    std::cerr << Error << '\n' << UsageText();
    return ecLocalError;
  }
  try {
    TViewer Viewer(Options, std::cout, std::cerr);
    return Viewer.Run();
  } catch (const std::exception& AFault) {
    std::cerr << "Erro: " << AFault.what() << '\n';
    return ecLocalError;
  }
}
