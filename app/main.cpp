// Placeholder entry until the window lands.
int main() { return 0; }
