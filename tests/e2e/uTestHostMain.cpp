// The end-to-end test host: the program with the test seam around its controller.
#include <memory>

#include "app/uProgram.h"
#include "e2e/uHostSeam.h"

namespace halvora::test {
namespace {

class TSeamDecorator final : public IProgramDecorator {
 public:
  void Decorate(TMainEnvironment& AEnv) override { FSeam = std::make_unique<THostSeam>(AEnv); }
  void Attach(TfrmMain& AController) override { FSeam->Attach(AController); }
  void Detach() override { FSeam.reset(); }

 private:
  std::unique_ptr<THostSeam> FSeam;
};

}  // namespace
}  // namespace halvora::test

int main(int argc, char** argv) {
  halvora::test::TSeamDecorator Decorator;
  return halvora::RunProgram(argc, argv, &Decorator);
}
