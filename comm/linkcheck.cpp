// Entry point of the per-unit link checks (comm/CMakeLists.txt).
int main() { return 0; }
