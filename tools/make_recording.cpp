// Placeholder until the test-recording maker is built.
int main() { return 1; }
