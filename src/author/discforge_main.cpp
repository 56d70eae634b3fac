// Command-line entry of the DVD authoring engine.
int main() { return 1; }
