// Command-line entry of the program-stream multiplexer.
int main() { return 1; }
