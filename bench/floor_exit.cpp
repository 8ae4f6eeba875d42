// Floor (a) of the process benchmarks: a static program that returns at once.
int main() {
  return 0;
}
