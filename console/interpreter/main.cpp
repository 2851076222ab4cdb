int main() { return 0; }  // scaffold
