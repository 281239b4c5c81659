// Times switching to a live LDAP tree as the window does it: the tree change, which reads
// the server's root entry and subschema entry, then the class list, the attribute list and
// the auxiliary attributes. Each run starts from a client that has read nothing.
//
//   corvanexml-ldap-bench TREE [RUNS]     (the tree of connections.ini; default 10 runs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "d_nw.h"
#include "dir_client.h"

namespace {

struct Run {
  double seconds = 0;
  std::size_t classes = 0, attributes = 0, auxAttributes = 0;
};

bool SwitchTo(const std::string& tree, Run& run) {
  namespace client = corvane::client;
  client::ResetClient();
  corvane::ContextHandle ctx = 0;
  if (client::ClientInit(0, 0) != 0 || client::CtxCreate(&ctx) != 0) return false;
  const auto start = std::chrono::steady_clock::now();
  corvane::StringList classes, attributes, aux;
  const bool read = corvane::DSChangeCurrentTree(ctx, tree) == 0 && corvane::ReadClassList(ctx, classes) == 0 &&
                    corvane::ReadAttributeList(ctx, attributes) == 0 && corvane::ReadAuxAttributeList(ctx, aux) == 0;
  run = {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), classes.size(),
         attributes.size(), aux.size()};
  client::CtxFree(ctx);
  return read;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: corvanexml-ldap-bench TREE [RUNS]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  std::vector<double> seconds;
  Run run;
  for (int i = 0; i < runs; ++i) {
    if (!SwitchTo(argv[1], run)) return 1;
    seconds.push_back(run.seconds);
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("tree %s: %zu classes, %zu attributes, %zu auxiliary attributes\n", argv[1], run.classes, run.attributes,
              run.auxAttributes);
  std::printf("switch: best %.3f s, median %.3f s, worst %.3f s over %d runs\n", seconds.front(),
              seconds[seconds.size() / 2], seconds.back(), runs);
  return 0;
}
