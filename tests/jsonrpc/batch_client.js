// A third-party JSON-RPC 2.0 client (jayson) sends a batch to the server: every call answered in
// order, a refused save beside an accepted one, a notification unanswered, a streamed method
// refused inside the batch. Exits 0 when every check holds.
const jayson = require('jayson');
const assert = require('assert');

const [port] = process.argv.slice(2);
const client = jayson.client.http({ host: '127.0.0.1', port: Number(port), path: '/PDI07310.rdmProdDesoneraImpos' });

const branch = (product, code) => ({
  fields: [{ name: 'CDPRODUTODES', size: 10 }, { name: 'CDFILIALDES', size: 4 }, { name: 'NMFILIAL', size: 40 }],
  changes: [{ op: 'insert', row: [product, code, ''] }],
});

const batch = [
  client.request('SetFilial', [branch('P000000001', 'ZZ99')]),         // not in the master data: refused
  client.request('getVd_Produto', ['P000000001']),
  client.request('getHistorico', ['P000000001']),
  client.request('getDados', []),                                       // streamed: refused in a batch
  client.request('getVd_Filial', ['P000000001', 'X'], null),            // a notification (no id)
];

client.request(batch, (err, responses) => {
  if (err) { console.error('transport error', err); process.exit(1); }
  try {
    assert.strictEqual(responses.length, 4, JSON.stringify(responses));
    const [refused, check, history, streamed] = responses;
    assert.strictEqual(refused.id, batch[0].id);
    assert.strictEqual(refused.result.ok, false);
    assert.match(refused.result.error, /não cadastrad/);
    assert.strictEqual(check.result.ok, true);
    assert.deepStrictEqual(check.result.data.rows, [['P000000001']]);
    assert.strictEqual(history.result.ok, true);
    assert.strictEqual(history.result.data.fields[0].name, 'DTHRALTERACAO');
    assert.strictEqual(streamed.error.code, -32600);
  } catch (e) {
    console.error(e.message);
    process.exit(1);
  }
  console.log('jayson batch: ok');
});
