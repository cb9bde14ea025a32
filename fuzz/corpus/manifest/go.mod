// the server
module "example.com/ann/shop/v2"

go 1.22

require (
	golang.org/x/net v0.20.0
)
